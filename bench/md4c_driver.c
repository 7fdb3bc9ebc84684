/* Reads a Markdown file and writes its HTML with libmd4c-html: the peer the benchmark
 * runs beside tarvix, reading and writing the same way (whole file in, buffered out). */
#include <md4c-html.h>
#include <stdio.h>
#include <stdlib.h>

static void Write(const MD_CHAR* text, MD_SIZE size, void* out) { fwrite(text, 1, size, (FILE*)out); }

int main(int argc, char** argv) {
  FILE* in = argc > 1 ? fopen(argv[1], "rb") : NULL;
  if (!in) return 2;
  fseek(in, 0, SEEK_END);
  long size = ftell(in);
  fseek(in, 0, SEEK_SET);
  char* text = malloc(size > 0 ? (size_t)size : 1);
  if (!text || fread(text, 1, (size_t)size, in) != (size_t)size) return 2;
  fclose(in);
  int status = md_html(text, (MD_SIZE)size, Write, stdout, MD_DIALECT_GITHUB, 0);
  free(text);
  return status == 0 && fflush(stdout) == 0 ? 0 : 1;
}
