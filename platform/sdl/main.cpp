#include "shell/demo.h"

int main() {
    return demoMain();
}
