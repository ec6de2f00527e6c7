#include <cstdio>

int main() {
    fprintf(stderr, "vornpms: cannot run yet\n");
    return 1;
}
