/* Tells whether this x86-64 machine can run 32-bit x86 code, which 32-bit
   Wine needs: calls a few instructions through the kernel's 32-bit user code
   segment (selector 0x23) and returns. Exit 0 when that works; a kernel or
   hypervisor without compatibility mode kills the probe with a fault, which
   the caller sees as a non-zero status. */
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>

struct {
    uint32_t offset;
    uint16_t selector;
} __attribute__((packed)) target;
uint64_t saved_rsp;

int main(void) {
    /* 32-bit code and stack must lie below 4 GiB. */
    unsigned char* low = mmap((void*)0x200000, 65536, PROT_READ | PROT_WRITE | PROT_EXEC,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (low == MAP_FAILED || (uintptr_t)low != 0x200000) return 2;
    static const unsigned char code[] = {0xB8, 42, 0, 0, 0, /* mov eax, 42 */
                                         0xCB};             /* retf */
    memcpy(low, code, sizeof code);
    target.offset = (uint32_t)(uintptr_t)low;
    target.selector = 0x23;
    uint64_t stack = (uint64_t)(uintptr_t)(low + 65536 - 64);
    int result;
    __asm__ volatile(
        "mov %%rsp, saved_rsp(%%rip)\n\t"
        "mov %1, %%rsp\n\t"
        "lcall *target(%%rip)\n\t"
        "mov saved_rsp(%%rip), %%rsp\n\t"
        : "=a"(result)
        : "r"(stack)
        : "memory");
    return result == 42 ? 0 : 3;
}
