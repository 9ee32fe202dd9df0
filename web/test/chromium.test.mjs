// The package in chromium: the full matrix (engine-suite.mjs).
import { engineTests } from './engine-suite.mjs';

engineTests('chromium', { full: true });
