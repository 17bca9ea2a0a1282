// A program of another project: it links libHalvix.so alone, registers no
// backend, and prints the battery's percentage and the line power.

#include <devif/halvix.h>

#include <cstdio>

int main() {
    std::printf("%d %d\n", GetBatteryStatus(), IsPowerAC());
    return 0;
}
