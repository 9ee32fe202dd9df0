#include "board.h"

/* From picolibc's linker script (and the --defsym of __stack_size). */
extern char __stack[];
extern char __stack_size[];
extern char __data_size[];
extern char __bss_size[];

#define SYST_CSR (*(volatile uint32_t*)0xE000E010u)
#define SYST_RVR (*(volatile uint32_t*)0xE000E014u)
#define SYST_CVR (*(volatile uint32_t*)0xE000E018u)
#define SCB_ICSR (*(volatile uint32_t*)0xE000ED04u)
#define PENDSTSET (1u << 26)

enum {
  kReload = 0xFFFFFF,            /* SysTick counts down 24 bits */
  kInstructionsPerTick = 40,     /* 1 GHz of instructions over a 25 MHz clock */
  kPaint = 0x5AC3A55A,
};

static volatile uint32_t wraps;

/* picolibc's vector table calls this on each SysTick wrap. */
void arm_systick_isr(void) { ++wraps; }

static uint64_t ticks(void) {
  /* With interrupts held, a wrap whose interrupt is still pending shows as
   * the pending bit and a freshly reloaded counter. */
  __asm__ volatile("cpsid i" ::: "memory");
  const uint32_t value = SYST_CVR;
  const int pending = (SCB_ICSR & PENDSTSET) != 0;
  uint64_t whole = wraps;
  __asm__ volatile("cpsie i" ::: "memory");
  if (pending && value > kReload / 2) ++whole;
  return whole * (kReload + 1u) + (kReload - value);
}

static uint64_t started;

static uint32_t* stack_low(void) { return (uint32_t*)(void*)(__stack - (uintptr_t)__stack_size); }

void board_start(void) {
  SYST_RVR = kReload;
  SYST_CVR = 0;
  SYST_CSR = 7; /* processor clock, interrupt, enabled */
  /* Paint the unused stack below this frame, with room for this function. */
  uint32_t* sp;
  __asm__ volatile("mov %0, sp" : "=r"(sp));
  for (uint32_t* p = stack_low(); p < sp - 64; ++p) *p = kPaint;
  started = ticks();
}

uint64_t board_instructions(void) { return (ticks() - started) * kInstructionsPerTick; }

size_t board_stack_high_water(void) {
  const uint32_t* p = stack_low();
  while (p < (const uint32_t*)(void*)__stack && *p == kPaint) ++p;
  return (size_t)((const char*)(const void*)__stack - (const char*)p);
}

size_t board_static_data(void) { return (size_t)(uintptr_t)__data_size + (size_t)(uintptr_t)__bss_size; }

/* Each double-precision helper of the run-time library, counted on its way
 * to the real one (the linker's --wrap). The helpers take and give their
 * values in core registers whatever the program's float ABI. */
static uint64_t double_calls;

uint64_t board_double_calls(void) { return double_calls; }

#define BOARD_AAPCS __attribute__((pcs("aapcs")))
#define WRAP(ret, name, params, args)              \
  ret __real_##name params BOARD_AAPCS;            \
  ret __wrap_##name params BOARD_AAPCS;            \
  ret __wrap_##name params {                       \
    ++double_calls;                                \
    return __real_##name args;                     \
  }
WRAP(double, __aeabi_dadd, (double a, double b), (a, b))
WRAP(double, __aeabi_dsub, (double a, double b), (a, b))
WRAP(double, __aeabi_drsub, (double a, double b), (a, b))
WRAP(double, __aeabi_dmul, (double a, double b), (a, b))
WRAP(double, __aeabi_ddiv, (double a, double b), (a, b))
WRAP(int, __aeabi_dcmpeq, (double a, double b), (a, b))
WRAP(int, __aeabi_dcmplt, (double a, double b), (a, b))
WRAP(int, __aeabi_dcmple, (double a, double b), (a, b))
WRAP(int, __aeabi_dcmpge, (double a, double b), (a, b))
WRAP(int, __aeabi_dcmpgt, (double a, double b), (a, b))
WRAP(int, __aeabi_dcmpun, (double a, double b), (a, b))
WRAP(double, __aeabi_f2d, (float a), (a))
WRAP(float, __aeabi_d2f, (double a), (a))
WRAP(double, __aeabi_i2d, (int a), (a))
WRAP(double, __aeabi_ui2d, (unsigned a), (a))
WRAP(double, __aeabi_l2d, (long long a), (a))
WRAP(double, __aeabi_ul2d, (unsigned long long a), (a))
WRAP(int, __aeabi_d2iz, (double a), (a))
WRAP(unsigned, __aeabi_d2uiz, (double a), (a))
WRAP(long long, __aeabi_d2lz, (double a), (a))
WRAP(unsigned long long, __aeabi_d2ulz, (double a), (a))
