/* The entry points and helpers shared by the bundled import plug-ins. */
#define _POSIX_C_SOURCE 200809L
#define _FILE_OFFSET_BITS 64
#include "SpiPlugin.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* ---- Input ---- */

void SpiReaderInit(SpiReader* reader, const SpiInput* input) {
  reader->data = input->data;
  reader->size = input->size;
  reader->pos = 0;
}

size_t SpiRead(SpiReader* reader, void* out, size_t count) {
  const size_t left = reader->size - reader->pos;
  if (count > left) count = left;
  if (count > 0) memcpy(out, reader->data + reader->pos, count);
  reader->pos += count;
  return count;
}

/* The image data of one call: either the caller's memory or a copy of the
 * file from the given offset to its end. */
typedef struct SpiInputData {
  SpiInput view;
  uint8_t* owned;
} SpiInputData;

static int ReadWholeFile(int fd, const struct stat* st, off_t offset, SpiInputData* input) {
  if (S_ISDIR(st->st_mode)) return SPI_FILE_READ_ERROR;
  if (lseek(fd, offset, SEEK_SET) == (off_t)-1) return SPI_FILE_READ_ERROR;

  /* A regular file is read in one go; anything else grows as it comes. */
  size_t capacity = 64 * 1024;
  if (S_ISREG(st->st_mode)) {
    if (st->st_size <= offset) return SPI_UNKNOWN_FORMAT; /* no data at the offset */
    const uint64_t left = (uint64_t)(st->st_size - offset);
    if (left > (uint64_t)PTRDIFF_MAX / 2) return SPI_OUT_OF_MEMORY;
    capacity = (size_t)left + 1; /* the extra byte shows the end without a second read */
  }
  uint8_t* data = malloc(capacity);
  if (data == NULL) return SPI_OUT_OF_MEMORY;
  size_t size = 0;
  for (;;) {
    if (size == capacity) {
      if (capacity > (size_t)PTRDIFF_MAX / 4) {
        free(data);
        return SPI_OUT_OF_MEMORY;
      }
      uint8_t* bigger = realloc(data, capacity * 2);
      if (bigger == NULL) {
        free(data);
        return SPI_OUT_OF_MEMORY;
      }
      data = bigger;
      capacity *= 2;
    }
    const ssize_t got = read(fd, data + size, capacity - size);
    if (got < 0) {
      if (errno == EINTR) continue;
      free(data);
      return SPI_FILE_READ_ERROR;
    }
    if (got == 0) break;
    size += (size_t)got;
  }
  if (size == 0) {
    free(data);
    return SPI_UNKNOWN_FORMAT;
  }
  input->owned = data;
  input->view.data = data;
  input->view.size = size;
  return SPI_SUCCESS;
}

/* The host asks for a picture's information and then for the picture: the
 * file that GetPictureInfo read is kept for the GetPicture that follows,
 * so that the file is read once. One file is kept, and only while it is
 * unchanged: the same regular file (device, inode) at the same offset,
 * with the same size and change times. */
typedef struct SpiKeptFile {
  int valid;
  dev_t dev;
  ino_t ino;
  off_t size;
  struct timespec mtime;
  struct timespec ctime;
  off_t offset;
  SpiInputData data;
} SpiKeptFile;

static pthread_mutex_t kept_lock = PTHREAD_MUTEX_INITIALIZER;
static SpiKeptFile kept;

static int SameTime(const struct timespec* a, const struct timespec* b) {
  return a->tv_sec == b->tv_sec && a->tv_nsec == b->tv_nsec;
}

static int IsKeptFile(const SpiKeptFile* k, const struct stat* st, off_t offset) {
  return k->valid && S_ISREG(st->st_mode) && k->dev == st->st_dev && k->ino == st->st_ino &&
         k->size == st->st_size && SameTime(&k->mtime, &st->st_mtim) &&
         SameTime(&k->ctime, &st->st_ctim) && k->offset == offset;
}

/* Hands the kept copy of the file over to `input` when it is still the
 * file's content; non-zero when it did. */
static int TakeKeptFile(const struct stat* st, off_t offset, SpiInputData* input) {
  pthread_mutex_lock(&kept_lock);
  const int hit = IsKeptFile(&kept, st, offset);
  if (hit) {
    *input = kept.data;
    kept.valid = 0;
    kept.data.owned = NULL;
  }
  pthread_mutex_unlock(&kept_lock);
  return hit;
}

/* Keeps the copy of a regular file for the next call, in place of the
 * one kept before; `input` no longer owns it. */
static void KeepFile(const struct stat* st, off_t offset, SpiInputData* input) {
  if (input->owned == NULL || !S_ISREG(st->st_mode)) return;
  pthread_mutex_lock(&kept_lock);
  uint8_t* dropped = kept.data.owned;
  kept.valid = 1;
  kept.dev = st->st_dev;
  kept.ino = st->st_ino;
  kept.size = st->st_size;
  kept.mtime = st->st_mtim;
  kept.ctime = st->st_ctim;
  kept.offset = offset;
  kept.data = *input;
  pthread_mutex_unlock(&kept_lock);
  free(dropped);
  input->owned = NULL;
}

/* The kept copy goes with the plug-in. */
__attribute__((destructor)) static void DropKeptFile(void) {
  free(kept.data.owned);
  kept.data.owned = NULL;
  kept.valid = 0;
}

/* Where the input came from: a file's identity, for keeping its copy. */
typedef struct SpiInputFile {
  int is_file;
  struct stat st;
  off_t offset;
} SpiInputFile;

static int OpenInput(const char* buf, intptr_t len, uint32_t flag, SpiInputData* input,
                     SpiInputFile* file) {
  input->view.data = NULL;
  input->view.size = 0;
  input->owned = NULL;
  file->is_file = 0;
  if (buf == NULL) return SPI_INTERNAL_ERROR;
  switch (flag & SPI_INPUT_MASK) {
    case SPI_INPUT_MEMORY:
      /* An empty or negative size holds no picture of any format. */
      if (len <= 0) return SPI_UNKNOWN_FORMAT;
      input->view.data = (const uint8_t*)buf;
      input->view.size = (size_t)len;
      return SPI_SUCCESS;
    case SPI_INPUT_FILE: {
      if (len < 0) return SPI_UNKNOWN_FORMAT;
      int fd;
      do {
        fd = open(buf, O_RDONLY | O_CLOEXEC);
      } while (fd < 0 && errno == EINTR);
      if (fd < 0) return SPI_FILE_READ_ERROR;
      int result = SPI_FILE_READ_ERROR;
      if (fstat(fd, &file->st) == 0) {
        file->is_file = 1;
        file->offset = (off_t)len;
        result = TakeKeptFile(&file->st, file->offset, input)
                     ? SPI_SUCCESS
                     : ReadWholeFile(fd, &file->st, file->offset, input);
      }
      close(fd);
      return result;
    }
    default:
      return SPI_NOT_IMPLEMENTED;
  }
}

static void CloseInput(SpiInputData* input) {
  free(input->owned);
  input->owned = NULL;
}

/* ---- Bitmap ---- */

void SpiDibInit(SpiDib* dib) {
  memset(dib, 0, sizeof *dib);
}

int SpiCheckSize(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) return SPI_BROKEN_DATA;
  if ((uint64_t)width > SPI_MAX_PIXELS || (uint64_t)height > SPI_MAX_PIXELS ||
      (uint64_t)width * (uint64_t)height > SPI_MAX_PIXELS)
    return SPI_OUT_OF_MEMORY;
  return SPI_SUCCESS;
}

int SpiDibCreate(SpiDib* dib, int64_t width, int64_t height, int bits, uint32_t colors) {
  const int size = SpiCheckSize(width, height);
  if (size != SPI_SUCCESS) return size;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return SPI_INTERNAL_ERROR;
  if (bits > 8) colors = 0;
  if (bits <= 8 && (colors == 0 || colors > (1u << bits))) return SPI_INTERNAL_ERROR;

  /* Both factors are at most 2^28, so nothing here overflows 64 bits. */
  const uint64_t stride = ((uint64_t)width * (uint64_t)bits + 31) / 32 * 4;
  const uint64_t bytes = stride * (uint64_t)height;
  if (bytes > (uint64_t)PTRDIFF_MAX / 2) return SPI_OUT_OF_MEMORY;

  SpiHandle pixels = LocalAlloc(LHND, (size_t)bytes);
  if (pixels == NULL) return SPI_OUT_OF_MEMORY;
  uint8_t* base = LocalLock(pixels);
  if (base == NULL) {
    LocalFree(pixels);
    return SPI_MEMORY_ERROR;
  }
  dib->width = (int32_t)width;
  dib->height = (int32_t)height;
  dib->bits = bits;
  dib->colors = colors;
  dib->stride = (size_t)stride;
  dib->pixels = pixels;
  dib->base = base;
  return SPI_SUCCESS;
}

uint8_t* SpiDibRow(const SpiDib* dib, int32_t y) {
  return dib->base + (size_t)(dib->height - 1 - y) * dib->stride;
}

void SpiDibSetColor(SpiDib* dib, uint32_t index, uint8_t red, uint8_t green, uint8_t blue) {
  if (index >= 256) return;
  uint8_t* entry = dib->palette + index * 4;
  entry[0] = blue;
  entry[1] = green;
  entry[2] = red;
  entry[3] = 0;
}

void SpiDibSetGreyRamp(SpiDib* dib, int inverted) {
  const uint32_t n = dib->colors;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t level = n > 1 ? (i * 255 + (n - 1) / 2) / (n - 1) : 0;
    const uint8_t v = (uint8_t)(inverted ? 255 - level : level);
    SpiDibSetColor(dib, i, v, v, v);
  }
}

void SpiDibClampIndices(const SpiDib* dib, uint8_t* row, int32_t width) {
  if (dib->bits > 8 || dib->colors >= (1u << dib->bits)) return;
  const uint32_t colors = dib->colors;
  switch (dib->bits) {
    case 8:
      for (int32_t x = 0; x < width; ++x)
        if (row[x] >= colors) row[x] = 0;
      break;
    case 4:
      for (int32_t x = 0; x < width; ++x) {
        uint8_t* byte = row + x / 2;
        const int shift = (x & 1) ? 0 : 4;
        if (((*byte >> shift) & 0x0F) >= colors) *byte &= (uint8_t) ~(0x0F << shift);
      }
      break;
    case 1: /* one entry: every pixel must be 0 */
      memset(row, 0, ((size_t)width + 7) / 8);
      break;
  }
}

static void Put16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

static void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

int SpiDibFinish(SpiDib* dib, SpiHandle* info, SpiHandle* pixels) {
  if (dib->pixels == NULL) return SPI_INTERNAL_ERROR;
  const size_t info_size = 40 + (size_t)dib->colors * 4;
  SpiHandle header = LocalAlloc(LHND, info_size);
  if (header == NULL) return SPI_OUT_OF_MEMORY;
  uint8_t* p = LocalLock(header);
  if (p == NULL) {
    LocalFree(header);
    return SPI_MEMORY_ERROR;
  }
  Put32(p + 0, 40);
  Put32(p + 4, (uint32_t)dib->width);
  Put32(p + 8, (uint32_t)dib->height); /* positive: bottom-up rows */
  Put16(p + 12, 1);
  Put16(p + 14, (uint32_t)dib->bits);
  Put32(p + 16, 0); /* BI_RGB */
  Put32(p + 20, (uint32_t)(dib->stride * (size_t)dib->height));
  Put32(p + 24, dib->x_ppm);
  Put32(p + 28, dib->y_ppm);
  Put32(p + 32, dib->colors);
  Put32(p + 36, 0);
  memcpy(p + 40, dib->palette, (size_t)dib->colors * 4);
  LocalUnlock(header);

  LocalUnlock(dib->pixels);
  *info = header;
  *pixels = dib->pixels;
  dib->pixels = NULL;
  dib->base = NULL;
  return SPI_SUCCESS;
}

void SpiDibDiscard(SpiDib* dib) {
  if (dib->pixels != NULL) LocalFree(dib->pixels);
  dib->pixels = NULL;
  dib->base = NULL;
}

/* ---- Progress ---- */

int SpiProgressStart(SpiProgress* progress, int64_t total) {
  if (total < 1) total = 1;
  if (total > INT32_MAX) total = INT32_MAX;
  progress->total = (int32_t)total;
  progress->step = (int32_t)((total + 99) / 100); /* about a hundred reports */
  progress->next = progress->step;
  if (progress->callback == NULL) return 0;
  return progress->callback(0, progress->total, progress->data) != 0;
}

int SpiProgressUpdate(SpiProgress* progress, int64_t done) {
  if (progress->next == INT64_MAX) return 0; /* the end was reported */
  if (done >= progress->total) {
    done = progress->total;
    progress->next = INT64_MAX;
  } else if (done < progress->next) {
    return 0;
  } else {
    while (progress->next <= done) progress->next += progress->step;
  }
  if (progress->callback == NULL) return 0;
  return progress->callback((int32_t)done, progress->total, progress->data) != 0;
}

uint32_t SpiPpmFromDpi(double dpi) {
  if (!(dpi > 0) || dpi > 1e6) return 0;
  return (uint32_t)lround(dpi / 0.0254);
}

uint16_t SpiDpiFromPpm(uint32_t ppm) {
  const double dpi = ppm * 0.0254;
  return dpi >= 65535 ? 65535 : (uint16_t)lround(dpi);
}

/* ---- Entry points ---- */

SPI_EXPORT int32_t GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
  if (infono < 0 || buf == NULL || buflen <= 0) return 0;
  for (int32_t i = 0; kSpiPluginInfo[i] != NULL; ++i) {
    if (i != infono) continue;
    size_t n = strlen(kSpiPluginInfo[i]);
    /* One byte of the buffer holds the terminating NUL. */
    if (n > (size_t)buflen - 1) n = (size_t)buflen - 1;
    memcpy(buf, kSpiPluginInfo[i], n);
    buf[n] = '\0';
    return (int32_t)n;
  }
  return 0;
}

SPI_EXPORT int32_t IsSupported(const char* filename, intptr_t dw) {
  (void)filename; /* the data decides, never the name */
  if (dw == 0) return 0;
  return SpiFormatIsSupported((const uint8_t*)dw, SPI_HEAD_SIZE) ? 1 : 0;
}

SPI_EXPORT int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                                  SpiPictureInfo* info) {
  if (info == NULL) return SPI_INTERNAL_ERROR;
  SpiInputData input;
  SpiInputFile file;
  int result = OpenInput(buf, len, flag, &input, &file);
  if (result == SPI_SUCCESS) {
    SpiImageInfo image;
    memset(&image, 0, sizeof image);
    result = SpiFormatReadInfo(&input.view, &image);
    if (result == SPI_SUCCESS) {
      info->left = 0;
      info->top = 0;
      info->width = image.width;
      info->height = image.height;
      info->x_density = SpiDpiFromPpm(image.x_ppm);
      info->y_density = SpiDpiFromPpm(image.y_ppm);
      info->colorDepth = (int16_t)image.bits;
      info->hInfo = NULL;
      /* The picture is asked for next, as a rule. */
      if (file.is_file) KeepFile(&file.st, file.offset, &input);
    }
  }
  CloseInput(&input);
  return result;
}

SPI_EXPORT int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                              SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) {
  if (hbinfo == NULL || hbm == NULL) return SPI_INTERNAL_ERROR;
  *hbinfo = NULL;
  *hbm = NULL;
  SpiInputData input;
  SpiInputFile file;
  int result = OpenInput(buf, len, flag, &input, &file);
  if (result == SPI_SUCCESS) {
    SpiDib dib;
    SpiDibInit(&dib);
    SpiProgress reports = {progress, data, 1, 1, 1};
    result = SpiFormatDecode(&input.view, &dib, &reports);
    if (result == SPI_SUCCESS) result = SpiDibFinish(&dib, hbinfo, hbm);
    SpiDibDiscard(&dib);
  }
  CloseInput(&input);
  return result;
}
