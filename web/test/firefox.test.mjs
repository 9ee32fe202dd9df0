// The package in firefox: the essentials (engine-suite.mjs).
import { engineTests } from './engine-suite.mjs';

engineTests('firefox');
