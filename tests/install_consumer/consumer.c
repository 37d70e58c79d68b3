/* Uses the public header from plain C and checks a few answers that need no device. */
#include <stdio.h>
#include <string.h>

#include <fx60link.h>

int main(void) {
  char driver[64] = {0};
  char algorithm[32] = {0};
  unsigned char a[512] = {0};
  unsigned char b[512] = {0};
  if (zzGetDriverVersion(driver) != 0 || strcmp(driver, "NORVEX FX-60 Driver V2.0.0.20170621") != 0) {
    fprintf(stderr, "driver version: '%s'\n", driver);
    return 1;
  }
  if (zzGetAlgVersion(algorithm) != 0 || strcmp(algorithm, "1401 20170608") != 0) {
    fprintf(stderr, "algorithm version: '%s'\n", algorithm);
    return 1;
  }
  if (zzMatchFingerprint(a, b, FX60_LEVEL_3) != -2) {
    fprintf(stderr, "unsealed templates were not refused\n");
    return 1;
  }
  if (zzCancelCapture(16) != -10) return 1;
  printf("%s / %s\n", driver, algorithm);
  return 0;
}
