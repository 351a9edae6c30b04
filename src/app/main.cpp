#include "app/SablewickhavenApp.h"

int main(int argc, char** argv)
{
    return SablewickhavenApp::main(argc, argv);
}
