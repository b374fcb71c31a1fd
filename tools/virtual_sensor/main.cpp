#include "virtual_sensor.h"

int main() { return 1; }
