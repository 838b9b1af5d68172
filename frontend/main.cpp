#include "frontend/EntryPoint.h"

int main(int argc, char** argv) { runHelper(argc, argv); }
