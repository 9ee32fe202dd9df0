// The package in webkit: the essentials (engine-suite.mjs).
import { engineTests } from './engine-suite.mjs';

engineTests('webkit');
