#include "plugin/app/plugin_main.h"

int main(int argc, char** argv) {
    return app::RunPlugin(argc, argv);
}
