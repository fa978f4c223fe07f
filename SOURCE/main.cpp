// argv -> the driver -> exit status; nothing else.
#include "driver.h"

int main(int argc, char **argv) {
  return incprep::runIncprep(argc, argv);
}
