#include "launcher/launcher.h"

int main() {
    return launcher::RunLauncher();
}
