#include "app/program.h"
#include "ui/desktop_program.h"

int main(int argc, char** argv) { return hm::RunProgram(argc, argv, &hm::RunDesktop); }
