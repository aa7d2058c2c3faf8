/* The tiny program cmake/run.cmake runs to learn how this build's programs run on this machine. */
#include <stdio.h>

int main(void) {
    puts("zendro-run-probe ok");
    return 0;
}
