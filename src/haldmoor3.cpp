#include "app/program.h"
#include "ui/desktop_program.h"
#include "update_signing_key.h"

int main(int argc, char** argv) { return hm::RunProgram(argc, argv, &hm::RunDesktop, hm::kUpdateSigningKey); }
