#include "app/startup.h"

int main(int argc, char** argv) { return gx::runEntry(argc, argv); }
