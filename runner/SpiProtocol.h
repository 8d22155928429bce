/* The messages between the plug-in host and a plug-in process: the native
 * runner (kevrale-spi-runner) or the Windows bridge (kevrale-spi-bridge*.exe).
 *
 * The process serves one plug-in file over two byte streams: the host writes
 * requests to the process's standard input and reads the answers from its
 * standard output. Every message is a frame:
 *
 *   byte 0  u32  size of the body that follows the 8-byte frame header
 *   byte 4  u32  message type (SPI_MSG_*)
 *   byte 8  ...  body
 *
 * Every field is of fixed width and little-endian; the offsets given below
 * count from the start of the body. Texts carry no NUL: their length is what
 * the body leaves for them.
 *
 * The conversation:
 *   1. The process starts and sends HELLO unasked.
 *   2. The host sends LOAD with the plug-in's file name and how blocks
 *      travel; the process answers LOADED.
 *   3. The host sends one request at a time and waits for its RESULT. Inside
 *      GET_PICTURE and GET_PREVIEW the process may send PROGRESS any number
 *      of times before the RESULT; each is answered by PROGRESS_REPLY before
 *      the plug-in goes on.
 *   4. The host closes the process's standard input; the process ends.
 * A process that meets a fault of the plug-in that nothing handles sends
 * CRASHED, where it can, and ends.
 *
 * Plain C: the Windows bridge is a C program.
 */
#ifndef KEVRALE_SPI_PROTOCOL_H
#define KEVRALE_SPI_PROTOCOL_H

#include <stdint.h>

/* Raised with every change of a message's layout. */
#define SPI_PROTOCOL_VERSION 3u

#define SPI_FRAME_HEADER 8u
/* No body is larger: memory input and the blocks of a picture fit in it. */
#define SPI_FRAME_MAX_BODY 0x7FFFFFFFu

/* Message types. From the process to the host: */
#define SPI_MSG_HELLO 1u
#define SPI_MSG_LOADED 2u
#define SPI_MSG_RESULT 3u
#define SPI_MSG_PROGRESS 4u
#define SPI_MSG_CRASHED 5u
#define SPI_MSG_RELEASED 6u
/* From the host to the process: */
#define SPI_MSG_LOAD 16u
#define SPI_MSG_GET_PLUGIN_INFO 17u
#define SPI_MSG_IS_SUPPORTED 18u
#define SPI_MSG_SET_DATA 19u
#define SPI_MSG_GET_PICTURE_INFO 20u
#define SPI_MSG_GET_PICTURE 21u
#define SPI_MSG_GET_PREVIEW 22u
#define SPI_MSG_PROGRESS_REPLY 23u
#define SPI_MSG_RELEASE 24u
#define SPI_MSG_HAND_OVER 25u

/* HELLO
 *   0  u32  SPI_PROTOCOL_VERSION
 *   4  u32  the code page in which the plug-in takes file names (the ANSI
 *           code page of a Windows process); 0: names are passed unchanged
 *   8  u32  pointer width of the plug-in's process in bits (32 or 64)
 *   12 u64  address in the process of SPI_PROBE_SIZE bytes holding
 *           SPI_PROBE_TEXT: a host that can read them there can read the
 *           blocks of a picture in place (LOAD's SPI_LOAD_BLOCKS_IN_PLACE) */
#define SPI_HELLO_SIZE 20u
#define SPI_PROBE_TEXT "KVSPIRUN"
#define SPI_PROBE_SIZE 8u

/* LOAD
 *   0  u32  options (SPI_LOAD_*)
 *   4  ...  the plug-in's file name, in the process's code page
 * With SPI_LOAD_BLOCKS_IN_PLACE the process sends no bytes of a block: a
 * RESULT gives each block's address, and the process keeps its blocks until
 * it reads the host's next message, while the host copies them out of its
 * memory. Without it the bytes follow the RESULT's fixed part.
 * With SPI_LOAD_SHARED_BLOCKS as well, a process that can keeps the large
 * blocks of its plug-in each in a memory file (a memfd that allows
 * sealing) and hands them over as SPI_BLOCK_SHARED: the host opens the
 * file through the process's descriptor, sends HAND_OVER, and once the
 * process has answered RELEASED (it has let go of its mappings) seals the
 * file against every change and maps it, so that the blocks are checked in
 * memory that the process can no longer change, and never copied.
 * LOADED
 *   0  i32  0: loaded; SPI_LOAD_FAILED: the library did not load
 *   4  u32  the entry points it exports (SPI_EXPORTS_* bits)
 *   8  ...  the loader's reason when it did not load (text, may be empty) */
#define SPI_LOAD_FIXED 4u
#define SPI_LOAD_BLOCKS_IN_PLACE 1u
#define SPI_LOAD_SHARED_BLOCKS 2u
#define SPI_LOADED_FIXED 8u
#define SPI_LOAD_FAILED 1
#define SPI_EXPORTS_GETPLUGININFO (1u << 0)
#define SPI_EXPORTS_CONFIGURATIONDLG (1u << 1)
#define SPI_EXPORTS_ISSUPPORTED (1u << 2)
#define SPI_EXPORTS_GETPICTUREINFO (1u << 3)
#define SPI_EXPORTS_GETPICTURE (1u << 4)
#define SPI_EXPORTS_GETPREVIEW (1u << 5)
#define SPI_EXPORTS_GETARCHIVEINFO (1u << 6)
#define SPI_EXPORTS_GETFILEINFO (1u << 7)
#define SPI_EXPORTS_GETFILE (1u << 8)

/* GET_PLUGIN_INFO
 *   0  i32  information number
 *   4  i32  buffer length as the caller gives it
 *   8  ...  the caller's buffer as it is before the call (its length, at
 *           most SPI_INFO_MAX_BUFFER bytes)
 * RESULT
 *   0  i32  the plug-in's result
 *   4  ...  the buffer after the call, as many bytes as were sent */
#define SPI_INFO_MAX_BUFFER 65536u

/* IS_SUPPORTED
 *   0  u32  length n of the file name
 *   4  ...  the file name (n bytes), then SPI_HEAD_SIZE bytes of the head
 *           of the data, which the plug-in gets as its buffer
 * RESULT
 *   0  i32  the plug-in's result */
#define SPI_HEAD_SIZE 2048u

/* RELEASE: no body, no answer. The host has read the blocks of the last
 * RESULT in place; the process frees them.
 * HAND_OVER: no body. As RELEASE, after the host has opened the shared
 * blocks of the last RESULT; the process frees its own and answers
 * RELEASED (no body) once it has. */

/* SET_DATA: the body is the memory input of the picture calls that follow.
 * The process keeps it until the next SET_DATA; there is no answer. */

/* The input of GET_PICTURE_INFO, GET_PICTURE and GET_PREVIEW
 *   0  u32  flag as the caller gives it; bits 0..2 = SPI_INPUT_MEMORY_FORM
 *           mean memory input, anything else file input
 *   4  i64  len as the caller gives it (file input: the offset of the
 *           image in the file; memory input: the size of the data)
 *   12 u64  memory input: where the data begins within the bytes of the
 *           last SET_DATA (the process passes the plug-in that address and
 *           len, and refuses a range outside those bytes); file input: 0
 * and, after the fields of each request, file input: the file name. */
#define SPI_INPUT_SIZE 20u
#define SPI_INPUT_FORM_MASK 7u
#define SPI_INPUT_MEMORY_FORM 1u

/* GET_PICTURE_INFO
 *   0  input (SPI_INPUT_SIZE bytes)
 *   20 picture information as the caller holds it (SPI_INFO_FIELDS_SIZE)
 *   42 u32  1 when the caller's text-information handle is set, else 0
 *   46 ...  file input: the file name
 * The picture information fields:
 *   0 i32 left, 4 i32 top, 8 i32 width, 12 i32 height,
 *   16 u16 x_density, 18 u16 y_density, 20 i16 colorDepth
 * RESULT
 *   0  i32  the plug-in's result
 *   4  picture information after the call (SPI_INFO_FIELDS_SIZE)
 *   26 block: the text-information handle after the call
 *   46 ...  its bytes, unless blocks stay in place */
#define SPI_INFO_FIELDS_SIZE 22u
#define SPI_PICTURE_INFO_REQUEST_FIXED (SPI_INPUT_SIZE + SPI_INFO_FIELDS_SIZE + 4u)

/* GET_PICTURE, GET_PREVIEW
 *   0  input (SPI_INPUT_SIZE bytes)
 *   20 u32  1 when the caller gives a progress callback, else 0 (the plug-in
 *           then gets none)
 *   24 ...  file input: the file name
 * PROGRESS (inside the call, from the plug-in's progress callback)
 *   0  i32  num
 *   4  i32  denom
 * PROGRESS_REPLY
 *   0  i32  the caller's answer: 0 go on, non-zero abort
 * RESULT
 *   0  i32  the plug-in's result
 *   4  block: the bitmap information handle
 *   24 block: the pixel bits handle
 *   44 ...  the bytes of the blocks, in that order, unless they stay in
 *           place */
#define SPI_PICTURE_REQUEST_FIXED (SPI_INPUT_SIZE + 4u)
#define SPI_PROGRESS_SIZE 8u
#define SPI_PROGRESS_REPLY_SIZE 4u

/* A block: a local-memory handle that the plug-in hands back, 20 bytes
 *   0  u32  SPI_BLOCK_*
 *   4  u64  its size (SPI_BLOCK_DATA): the plug-in's LocalSize of it, 0 for
 *           a handle that the local-memory calls refuse
 *   12 u64  its address in the process when blocks stay in place, else 0;
 *           for SPI_BLOCK_SHARED the number of the process's descriptor of
 *           the memory file that holds it (its bytes from offset 0)
 * Unless blocks stay in place, the bytes of every SPI_BLOCK_DATA block
 * follow the fixed part of the RESULT. The process frees the plug-in's
 * blocks once they are sent (or, in place, once the host has read them).
 * After a non-zero result of GET_PICTURE and GET_PREVIEW both blocks are
 * SPI_BLOCK_UNCHANGED: the caller's handles stay as they were. */
#define SPI_BLOCK_SIZE 20u
#define SPI_BLOCK_NULL 0u      /* the handle is NULL */
#define SPI_BLOCK_DATA 1u      /* a block of the given size */
#define SPI_BLOCK_UNCHANGED 2u /* the handle is the one the caller gave */
#define SPI_BLOCK_SAME 3u      /* the pixel bits are the information block */
#define SPI_BLOCK_SHARED 4u    /* a block of the given size in a memory file */
#define SPI_PICTURE_INFO_RESULT_FIXED (4u + SPI_INFO_FIELDS_SIZE + SPI_BLOCK_SIZE)
#define SPI_PICTURE_RESULT_FIXED (4u + 2u * SPI_BLOCK_SIZE)

/* CRASHED
 *   0  u32  the fault's code (a Windows exception code) */
#define SPI_CRASHED_SIZE 4u

/* Fixed-width little-endian fields, for the C programs of the protocol. */
static inline uint32_t SpiGet32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static inline uint64_t SpiGet64(const uint8_t* p) {
  return (uint64_t)SpiGet32(p) | (uint64_t)SpiGet32(p + 4) << 32;
}
static inline uint16_t SpiGet16(const uint8_t* p) {
  return (uint16_t)(p[0] | p[1] << 8);
}
static inline void SpiPut16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
static inline void SpiPut32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(v >> (8 * i));
}
static inline void SpiPut64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

#endif /* KEVRALE_SPI_PROTOCOL_H */
