/* Board support for the example firmware on Arm's MPS2 boards as QEMU
 * models them (mps2-an386: Cortex-M4F, mps2-an500: Cortex-M7): what a
 * program running there can measure of itself. A real board keeps its own
 * startup code; none of this is needed to use the library. */
#ifndef QUORLAX_EMBEDDED_BOARD_H
#define QUORLAX_EMBEDDED_BOARD_H

#include <stddef.h>
#include <stdint.h>

/* Starts the instruction counter and paints the stack: call first in main. */
void board_start(void);

/* Instructions executed since board_start, as QEMU counts them when run with
 * -icount shift=0 (one instruction per nanosecond of virtual time), read from
 * SysTick at the boards' 25 MHz system clock: 40 instructions per tick. */
uint64_t board_instructions(void);

/* The deepest the stack has reached since board_start, in bytes. */
size_t board_stack_high_water(void);

/* Initialised and zeroed static data of the whole program, in bytes. */
size_t board_static_data(void);

/* Calls of the run-time library's double-precision arithmetic so far (what
 * a processor with a single-precision FPU emulates), when the program is
 * linked with the wrappers of board.c (BOARD_DOUBLE_WRAPS). */
uint64_t board_double_calls(void);

#endif
