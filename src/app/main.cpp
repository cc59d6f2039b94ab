// main(): hands the command line to the program entry.
#include "app/entry.h"

int main(int argc, char** argv) { return velmo::VelmoMain(argc, argv); }
