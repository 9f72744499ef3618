// Placeholder entry point until the Qt shell lands.
#include <cstdio>

int main() {
    std::puts("velmora " VELMORA_VERSION);
    return 0;
}
