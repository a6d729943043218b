// The demo program: no arguments, no files, no configuration.
#include "host/demo.h"
#include "host/platform.h"
#include "host/soundtrack.h"

int main() {
  host::runDemo(host::systemPlatform(), host::shippedSoundtrack());
}
