/* enroll_and_verify.c: enrols a finger from the first module, then verifies a
 * second placement of the finger against the enrolled template.
 *
 *   cc enroll_and_verify.c $(pkg-config --cflags --libs fx60link) -o enroll_and_verify
 *
 * Exit status: 0 the same finger, 1 another finger, 2 a capture failed. */
#include <stdio.h>

#include <fx60link.h>

/* Waits up to ten seconds for a finger whose image scores at least 60, and writes
 * its sealed template. */
static int enrol(unsigned char templateOut[512], const char* what) {
  printf("%s: place a finger on the module\n", what);
  int status = zzExtractFingerprint(0, 10000, templateOut, 60, 0);
  if (status != 0) {
    fprintf(stderr, "%s failed with status %d%s\n", what, status,
            status == -1 ? " (no module)" : status == -3 ? " (time-out)" : "");
    return 0;
  }
  return 1;
}

int main(void) {
  char version[64] = "";
  unsigned char enrolled[512];
  unsigned char live[512];

  zzGetDeviceVersion(0, version); /* left empty when no module answers */
  printf("module: %s\n", version[0] != '\0' ? version : "(none)");

  if (!enrol(enrolled, "enrolment")) return 2;
  if (!enrol(live, "verification")) return 2;

  /* The second template must carry the library's seal: pass the live one there. */
  int status = zzMatchFingerprint(enrolled, live, FX60_LEVEL_3);
  puts(status == 0 ? "the same finger" : "another finger");
  return status == 0 ? 0 : 1;
}
