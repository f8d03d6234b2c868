#include "MurmeloApp.h"

int main(int argc, char* argv[]) { return murmelo::MurmeloApp::run(argc, argv); }
