/* The product of the CPack example: prints a greeting. */
#include <stdio.h>

int main(void)
{
    puts("Hello from the CPack example.");
    return 0;
}
