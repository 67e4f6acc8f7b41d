#include "app/program.h"

int main(int argc, char** argv) { return hm::RunProgram(argc, argv); }
