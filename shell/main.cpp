#include "shell/Application.h"

int main(int argc, char** argv) {
    tarnwell::Application app(argc, argv);
    return app.exec();
}
