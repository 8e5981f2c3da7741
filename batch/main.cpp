#include <iostream>

#include "BatchCommand.h"

int main(int argc, char** argv) { return quorlin::RunBatch(argc, argv, std::cout, std::cerr); }
