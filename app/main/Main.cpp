#include "app/Startup.h"

int main(int argc, char** argv) {
  return corvyn::app::RunCorvyn(argc, argv);
}
