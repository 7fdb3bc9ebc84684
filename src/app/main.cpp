// The program's entry point.
#include "core/Parser_CL.h"

int main(int argc, char** argv) {
  return tarvix::Main(argc, argv);
}
