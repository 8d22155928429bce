#include "runner/SpiServer.h"

#include <stdlib.h>
#include <string.h>

#include "runner/SpiProtocol.h"

/* The largest request other than SET_DATA: a buffer of GetPluginInfo, or a
 * file name, with their fixed fields. */
#define MAX_REQUEST (1u << 20)

/* Room after the head that the host sends, zero-filled, for a plug-in that
 * reads a little more than it may. */
#define HEAD_SLACK 2048u

/* Room after a GetPluginInfo buffer for a plug-in that writes its NUL past
 * the length it was given. */
#define INFO_SLACK 16u

enum DataState { DATA_NONE, DATA_FAILED, DATA_KEPT };

typedef struct Block {
  uint32_t state;
  void* handle;
  void* address;
  uint64_t size;
  int fd; /* SPI_BLOCK_SHARED: the memory file's descriptor */
} Block;

typedef struct Server {
  const SpiServerPlatform* p;
  SpiServerEntries entries;
  int load_tried;
  int loaded;
  /* The request being served; one byte more than its size, always NUL, so
   * that a file name at its end can be passed in place. */
  uint8_t* body;
  size_t body_capacity;
  uint32_t body_size;
  /* Blocks are read by the host in place (SPI_LOAD_BLOCKS_IN_PLACE); those
   * of the last RESULT wait here until the host's next message. */
  int in_place;
  /* Large blocks are handed over in memory files (SPI_LOAD_SHARED_BLOCKS). */
  int shared;
  Block pending[3];
  int pending_count;
  /* The memory input of the last SET_DATA. */
  uint8_t* data;
  uint64_t data_size;
  enum DataState data_state;
} Server;

/* What a host reads to learn whether it can read this process's memory. */
static const char g_probe[SPI_PROBE_SIZE + 1] = SPI_PROBE_TEXT;

/* Marks a text-information handle that the caller had set: the plug-in gets
 * this address, never the caller's handle, and gives it back unchanged or
 * replaces it. */
static char g_caller_hinfo;

static int WriteHeader(Server* s, uint32_t type, uint32_t size) {
  uint8_t header[SPI_FRAME_HEADER];
  SpiPut32(header, size);
  SpiPut32(header + 4, type);
  return s->p->Write(s->p->channel, header, sizeof header);
}

static int WriteFrame(Server* s, uint32_t type, const void* body, uint32_t size) {
  if (WriteHeader(s, type, size) != 0) return -1;
  return size == 0 ? 0 : s->p->Write(s->p->channel, body, size);
}

static int WriteResult(Server* s, int32_t result) {
  uint8_t body[4];
  SpiPut32(body, (uint32_t)result);
  return WriteFrame(s, SPI_MSG_RESULT, body, sizeof body);
}

/* Reads the next request into s->body (SET_DATA into s->data). 1 at the end
 * of the input, -1 when the channel fails or the request breaks the
 * protocol. */
static int ReadRequest(Server* s, uint32_t* type) {
  uint8_t header[SPI_FRAME_HEADER];
  const int got = s->p->Read(s->p->channel, header, sizeof header);
  if (got != 0) return got;
  const uint32_t size = SpiGet32(header);
  *type = SpiGet32(header + 4);
  if (size > SPI_FRAME_MAX_BODY) return -1;
  if (*type == SPI_MSG_SET_DATA) {
    free(s->data);
    s->data = malloc(size > 0 ? size : 1);
    s->data_size = size;
    if (s->data != NULL) {
      s->data_state = DATA_KEPT;
      return s->p->Read(s->p->channel, s->data, size) == 0 ? 0 : -1;
    }
    /* No room for the data: it is read and dropped, and the calls that
     * would use it answer that memory ran out. */
    s->data_state = DATA_FAILED;
    uint8_t chunk[4096];
    for (uint32_t left = size; left > 0;) {
      const uint32_t n = left < sizeof chunk ? left : (uint32_t)sizeof chunk;
      if (s->p->Read(s->p->channel, chunk, n) != 0) return -1;
      left -= n;
    }
    return 0;
  }
  if (size > MAX_REQUEST) return -1;
  if (s->body_capacity < (size_t)size + 1) {
    uint8_t* grown = realloc(s->body, (size_t)size + 1);
    if (grown == NULL) return -1;
    s->body = grown;
    s->body_capacity = (size_t)size + 1;
  }
  s->body_size = size;
  s->body[size] = 0;
  return size == 0 ? 0 : (s->p->Read(s->p->channel, s->body, size) == 0 ? 0 : -1);
}

/* The plug-in's progress callback: asks the host and waits for its answer.
 * A host that is gone leaves nothing to do but end. */
static int32_t SPI_CALL Progress(int32_t num, int32_t denom, intptr_t data) {
  Server* s = (Server*)data;
  uint8_t body[SPI_PROGRESS_SIZE];
  SpiPut32(body, (uint32_t)num);
  SpiPut32(body + 4, (uint32_t)denom);
  uint8_t header[SPI_FRAME_HEADER];
  uint8_t reply[SPI_PROGRESS_REPLY_SIZE];
  if (WriteFrame(s, SPI_MSG_PROGRESS, body, sizeof body) != 0 ||
      s->p->Read(s->p->channel, header, sizeof header) != 0 ||
      SpiGet32(header) != SPI_PROGRESS_REPLY_SIZE ||
      SpiGet32(header + 4) != SPI_MSG_PROGRESS_REPLY ||
      s->p->Read(s->p->channel, reply, sizeof reply) != 0)
    _Exit(SPI_SERVER_BROKEN);
  return (int32_t)SpiGet32(reply);
}

typedef struct Input {
  const char* buf;
  intptr_t len;
  uint32_t flag;
} Input;

/* The input fields at the start of the body; the file name after `fixed`.
 * 0 when usable, 1 when the memory input could not be kept, -1 when the
 * request breaks the protocol. */
static int ParseInput(Server* s, uint32_t fixed, Input* in) {
  const uint8_t* b = s->body;
  in->flag = SpiGet32(b);
  const int64_t len = (int64_t)SpiGet64(b + 4);
  const uint64_t start = SpiGet64(b + 12);
  if ((int64_t)(intptr_t)len != len) return -1;
  in->len = (intptr_t)len;
  if ((in->flag & SPI_INPUT_FORM_MASK) != SPI_INPUT_MEMORY_FORM) {
    in->buf = (const char*)b + fixed; /* NUL-terminated by ReadRequest */
    return 0;
  }
  if (s->data_state == DATA_FAILED) return 1;
  if (s->data_state != DATA_KEPT || start > s->data_size) return -1;
  if (len > 0 && (uint64_t)len > s->data_size - start) return -1;
  in->buf = (const char*)s->data + start;
  return 0;
}

/* Locks a handle that the plug-in handed back; a handle that the local-memory
 * calls refuse is sent as a block of 0 bytes, which the host refuses. */
static void TakeBlock(Server* s, void* handle, Block* block) {
  memset(block, 0, sizeof *block);
  block->handle = handle;
  if (handle == NULL) return;
  block->state = SPI_BLOCK_DATA;
  block->address = s->p->Lock(handle);
  block->size = block->address != NULL ? s->p->Size(handle) : 0;
  block->fd = s->shared && block->address != NULL ? s->p->BlockFd(handle) : -1;
  if (block->fd >= 0) block->state = SPI_BLOCK_SHARED;
}

static void DropBlock(Server* s, const Block* block) {
  if (block->state != SPI_BLOCK_DATA && block->state != SPI_BLOCK_SHARED) return;
  if (block->address != NULL) s->p->Unlock(block->handle);
  s->p->Free(block->handle);
}

/* The blocks of the last RESULT, once the host has read them in place. */
static void FreePending(Server* s) {
  for (int i = 0; i < s->pending_count; ++i) DropBlock(s, &s->pending[i]);
  s->pending_count = 0;
}

/* Sends a RESULT: its fixed part, whose blocks start at byte `blocks_at`,
 * then the bytes of the blocks, or, in place, nothing more (the blocks then
 * wait for the host's next message). A block that the frame cannot carry is
 * sent as 0 bytes, which the host refuses. Every block is dropped or kept. */
static int WriteWithBlocks(Server* s, uint8_t* fixed, uint32_t fixed_size, uint32_t blocks_at,
                           Block* const* blocks, int count) {
  uint64_t total = fixed_size;
  for (int i = 0; i < count; ++i) {
    if (blocks[i]->size > SPI_FRAME_MAX_BODY - total) blocks[i]->size = 0;
    if (blocks[i]->state == SPI_BLOCK_SHARED && blocks[i]->size == 0)
      blocks[i]->state = SPI_BLOCK_DATA;
    if (!s->in_place) total += blocks[i]->size;
    uint8_t* p = fixed + blocks_at + SPI_BLOCK_SIZE * (uint32_t)i;
    const int data = blocks[i]->state == SPI_BLOCK_DATA;
    const int shared = blocks[i]->state == SPI_BLOCK_SHARED;
    SpiPut32(p, blocks[i]->state);
    SpiPut64(p + 4, data || shared ? blocks[i]->size : 0);
    SpiPut64(p + 12, shared                ? (uint64_t)blocks[i]->fd
                     : data && s->in_place ? (uint64_t)(uintptr_t)blocks[i]->address
                                           : 0);
  }
  int status = WriteHeader(s, SPI_MSG_RESULT, (uint32_t)total) != 0 ||
                       s->p->Write(s->p->channel, fixed, fixed_size) != 0
                   ? -1
                   : 0;
  for (int i = 0; i < count; ++i) {
    if (status == 0 && !s->in_place && blocks[i]->size > 0 &&
        s->p->Write(s->p->channel, blocks[i]->address, (size_t)blocks[i]->size) != 0)
      status = -1;
    if (s->in_place && (blocks[i]->state == SPI_BLOCK_DATA || blocks[i]->state == SPI_BLOCK_SHARED))
      s->pending[s->pending_count++] = *blocks[i];
    else
      DropBlock(s, blocks[i]);
  }
  return status;
}

static int ServeLoad(Server* s) {
  if (s->load_tried || s->body_size < SPI_LOAD_FIXED) return -1;
  s->load_tried = 1;
  const uint32_t options = SpiGet32(s->body);
  s->in_place = (options & SPI_LOAD_BLOCKS_IN_PLACE) != 0;
  s->shared = s->in_place && (options & SPI_LOAD_SHARED_BLOCKS) != 0 &&
              s->p->ShareLargeBlocks != NULL && s->p->BlockFd != NULL;
  if (s->shared) s->p->ShareLargeBlocks();
  char reason[512] = "";
  memset(&s->entries, 0, sizeof s->entries);
  const char* name = (const char*)s->body + SPI_LOAD_FIXED; /* NUL-terminated by ReadRequest */
  s->loaded = s->p->Load(name, &s->entries, reason, sizeof reason) == 0;
  uint32_t exports = 0;
  if (s->loaded) {
    const SpiServerEntries* e = &s->entries;
    const int present[] = {
        e->GetPluginInfo != NULL,  e->ConfigurationDlg != NULL, e->IsSupported != NULL,
        e->GetPictureInfo != NULL, e->GetPicture != NULL,       e->GetPreview != NULL,
        e->GetArchiveInfo != NULL, e->GetFileInfo != NULL,      e->GetFile != NULL};
    for (unsigned i = 0; i < sizeof present / sizeof present[0]; ++i)
      if (present[i]) exports |= 1u << i;
  }
  reason[sizeof reason - 1] = '\0';
  const uint32_t reason_size = s->loaded ? 0 : (uint32_t)strlen(reason);
  uint8_t body[SPI_LOADED_FIXED + sizeof reason];
  SpiPut32(body, s->loaded ? 0u : (uint32_t)SPI_LOAD_FAILED);
  SpiPut32(body + 4, exports);
  memcpy(body + SPI_LOADED_FIXED, reason, reason_size);
  return WriteFrame(s, SPI_MSG_LOADED, body, SPI_LOADED_FIXED + reason_size);
}

static int ServePluginInfo(Server* s) {
  if (s->entries.GetPluginInfo == NULL || s->body_size < 8) return -1;
  const int32_t infono = (int32_t)SpiGet32(s->body);
  int32_t buflen = (int32_t)SpiGet32(s->body + 4);
  const uint32_t count = s->body_size - 8;
  const uint32_t expected = buflen <= 0                              ? 0u
                            : (uint32_t)buflen > SPI_INFO_MAX_BUFFER ? SPI_INFO_MAX_BUFFER
                                                                     : (uint32_t)buflen;
  if (count != expected) return -1;
  if (buflen > 0) buflen = (int32_t)count; /* no more than the buffer that came */
  uint8_t* reply = calloc(1, 4 + (size_t)count + INFO_SLACK);
  if (reply == NULL) return -1;
  memcpy(reply + 4, s->body + 8, count);
  const int32_t result = s->entries.GetPluginInfo(infono, (char*)reply + 4, buflen);
  SpiPut32(reply, (uint32_t)result);
  const int written = WriteFrame(s, SPI_MSG_RESULT, reply, 4 + count);
  free(reply);
  return written;
}

static int ServeIsSupported(Server* s) {
  if (s->entries.IsSupported == NULL || s->body_size < 4) return -1;
  const uint32_t n = SpiGet32(s->body);
  if (n > s->body_size - 4 || s->body_size - 4 - n != SPI_HEAD_SIZE) return -1;
  static uint8_t head[SPI_HEAD_SIZE + HEAD_SLACK];
  memcpy(head, s->body + 4 + n, SPI_HEAD_SIZE);
  s->body[4 + n] = 0; /* the name, NUL-terminated where the head was */
  return WriteResult(s, s->entries.IsSupported((const char*)s->body + 4, (intptr_t)head));
}

static void GetInfoFields(const uint8_t* p, SpiServerPictureInfo* info) {
  info->left = (int32_t)SpiGet32(p);
  info->top = (int32_t)SpiGet32(p + 4);
  info->width = (int32_t)SpiGet32(p + 8);
  info->height = (int32_t)SpiGet32(p + 12);
  info->x_density = SpiGet16(p + 16);
  info->y_density = SpiGet16(p + 18);
  info->colorDepth = (int16_t)SpiGet16(p + 20);
}

static void PutInfoFields(uint8_t* p, const SpiServerPictureInfo* info) {
  SpiPut32(p, (uint32_t)info->left);
  SpiPut32(p + 4, (uint32_t)info->top);
  SpiPut32(p + 8, (uint32_t)info->width);
  SpiPut32(p + 12, (uint32_t)info->height);
  SpiPut16(p + 16, info->x_density);
  SpiPut16(p + 18, info->y_density);
  SpiPut16(p + 20, (uint16_t)info->colorDepth);
}

static int ServePictureInfo(Server* s) {
  if (s->entries.GetPictureInfo == NULL || s->body_size < SPI_PICTURE_INFO_REQUEST_FIXED) return -1;
  Input in;
  const int parsed = ParseInput(s, SPI_PICTURE_INFO_REQUEST_FIXED, &in);
  if (parsed < 0) return -1;
  SpiServerPictureInfo info;
  GetInfoFields(s->body + SPI_INPUT_SIZE, &info);
  const int caller_set = SpiGet32(s->body + SPI_INPUT_SIZE + SPI_INFO_FIELDS_SIZE) != 0;
  info.hInfo = caller_set ? &g_caller_hinfo : NULL;

  /* Memory input that could not be kept: out of memory, nothing changed. */
  const int32_t result =
      parsed == 1 ? 4 : s->entries.GetPictureInfo(in.buf, in.len, in.flag, &info);

  Block text;
  if (caller_set && info.hInfo == &g_caller_hinfo) {
    memset(&text, 0, sizeof text);
    text.state = SPI_BLOCK_UNCHANGED;
  } else {
    TakeBlock(s, info.hInfo, &text);
  }
  uint8_t fixed[SPI_PICTURE_INFO_RESULT_FIXED];
  SpiPut32(fixed, (uint32_t)result);
  PutInfoFields(fixed + 4, &info);
  Block* blocks[] = {&text};
  return WriteWithBlocks(s, fixed, sizeof fixed, 4 + SPI_INFO_FIELDS_SIZE, blocks, 1);
}

static int ServePicture(Server* s, int preview) {
  const SpiServerGetPicture call = preview ? s->entries.GetPreview : s->entries.GetPicture;
  if (call == NULL || s->body_size < SPI_PICTURE_REQUEST_FIXED) return -1;
  Input in;
  const int parsed = ParseInput(s, SPI_PICTURE_REQUEST_FIXED, &in);
  if (parsed < 0) return -1;
  const int with_progress = SpiGet32(s->body + SPI_INPUT_SIZE) != 0;
  void* info = NULL;
  void* bits = NULL;
  const int32_t result = parsed == 1 ? 4
                                     : call(in.buf, in.len, in.flag, &info, &bits,
                                            with_progress ? Progress : NULL, (intptr_t)s);
  Block info_block, bits_block;
  memset(&info_block, 0, sizeof info_block);
  memset(&bits_block, 0, sizeof bits_block);
  if (result != 0) {
    /* The caller drops whatever a failed call left; nothing of it is sent. */
    info_block.state = bits_block.state = SPI_BLOCK_UNCHANGED;
  } else {
    TakeBlock(s, info, &info_block);
    if (bits != NULL && bits == info)
      bits_block.state = SPI_BLOCK_SAME;
    else
      TakeBlock(s, bits, &bits_block);
  }
  uint8_t fixed[SPI_PICTURE_RESULT_FIXED];
  SpiPut32(fixed, (uint32_t)result);
  Block* blocks[] = {&info_block, &bits_block};
  return WriteWithBlocks(s, fixed, sizeof fixed, 4, blocks, 2);
}

void SpiServerReportCrash(const SpiServerPlatform* platform, uint32_t code) {
  uint8_t frame[SPI_FRAME_HEADER + SPI_CRASHED_SIZE];
  SpiPut32(frame, SPI_CRASHED_SIZE);
  SpiPut32(frame + 4, SPI_MSG_CRASHED);
  SpiPut32(frame + SPI_FRAME_HEADER, code);
  platform->Write(platform->channel, frame, sizeof frame);
}

int SpiServe(const SpiServerPlatform* platform) {
  Server s;
  memset(&s, 0, sizeof s);
  s.p = platform;
  s.data_state = DATA_NONE;

  uint8_t hello[SPI_HELLO_SIZE];
  SpiPut32(hello, SPI_PROTOCOL_VERSION);
  SpiPut32(hello + 4, platform->code_page);
  SpiPut32(hello + 8, platform->pointer_bits);
  SpiPut64(hello + 12, (uint64_t)(uintptr_t)g_probe);
  int status = WriteFrame(&s, SPI_MSG_HELLO, hello, sizeof hello);

  while (status == 0) {
    uint32_t type = 0;
    const int got = ReadRequest(&s, &type);
    FreePending(&s);     /* any message of the host means it has read them */
    if (got == 1) break; /* the host closed the channel: the regular end */
    if (got != 0) {
      status = -1;
      break;
    }
    if (type == SPI_MSG_LOAD) {
      status = ServeLoad(&s);
      continue;
    }
    if (type == SPI_MSG_SET_DATA || type == SPI_MSG_RELEASE) continue;
    if (type == SPI_MSG_HAND_OVER) {
      /* The blocks are freed above; the host may seal their files now. */
      status = WriteFrame(&s, SPI_MSG_RELEASED, NULL, 0);
      continue;
    }
    if (!s.loaded) {
      status = -1;
      break;
    }
    switch (type) {
      case SPI_MSG_GET_PLUGIN_INFO:
        status = ServePluginInfo(&s);
        break;
      case SPI_MSG_IS_SUPPORTED:
        status = ServeIsSupported(&s);
        break;
      case SPI_MSG_GET_PICTURE_INFO:
        status = ServePictureInfo(&s);
        break;
      case SPI_MSG_GET_PICTURE:
        status = ServePicture(&s, 0);
        break;
      case SPI_MSG_GET_PREVIEW:
        status = ServePicture(&s, 1);
        break;
      default:
        status = -1;
        break;
    }
  }
  FreePending(&s);
  free(s.body);
  free(s.data);
  return status == 0 ? 0 : SPI_SERVER_BROKEN;
}
