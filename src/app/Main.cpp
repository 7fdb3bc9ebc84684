// The program's entry point.
#include "app/Program.h"

int main(int argc, char** argv) {
  return tarvix::Main(argc, argv);
}
