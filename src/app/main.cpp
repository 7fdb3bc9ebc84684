// The program's entry point.
#include "app/Main.h"

int main(int argc, char** argv) {
  return tarvix::Main(argc, argv);
}
