#include <cstdio>

int main() {
    std::puts("Zembra: the window is not built yet.");
    return 0;
}
