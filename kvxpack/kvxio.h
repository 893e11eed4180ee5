// kvxio: the KVX data file library.
//
// A KVX file is a sequence of blocks, each a text header of "key = value ;"
// lines padded to a multiple of the block boundary (512 bytes), followed by a
// binary section that holds one data array, padded with spaces to a multiple
// of the block boundary.  A block is named by its chain (1 for primary image
// data) and its block key (the image number).
//
// Calling conventions.  Every call that can fail ends with two optional
// out-parameters: `pErrorValue` receives a value of `ErrorValues`
// (kvxio_errors.h; RoutineSucceeded on success) and `pstatus` a `Status`
// (VexaError.h): Success, or ExternalErrorReport when the error value explains
// the failure.  Either pointer may be null.  Nothing throws: memory that
// runs out is reported as CouldNotMallocMemory where the call names no other
// error for it (a header value that cannot be stored, for instance, is
// CouldNotInsertSymbol).
//
// Stream numbers: kvx_open_data_file returns a stream number 0 to 19 (or -1)
// that every later call takes.  Numbers outside 0 to 19 are rejected with
// InvalidStream, never used as an index.
//
// Ownership: the library owns its file table, the blocks and their header
// values, and releases them at close.  Data buffers handed to
// kvx_write_data_raw stay the caller's; the library reads them during the
// call only and keeps no copy (apart from the compressed bytes when
// compression is on).  Returned texts are the library's and stay valid as
// each function states.
//
// The library is single-threaded: its tables and settings are process-wide.
#pragma once

#include <cstddef>

#include "VexaError.h"
#include "kvxio_errors.h"

// Stored data types.  The header name of each is kvx_datatype2string.
enum DType : int {
  InValidDType = 0,
  Unsigned8 = 1,
  Signed8 = 2,
  Unsigned16 = 3,
  Signed16 = 4,
  Unsigned32 = 5,
  Signed32 = 6,
  Unsigned64 = 7,
  Signed64 = 8,
  FloatIEEE32 = 9,
  DoubleIEEE64 = 10,
  Unused11 = 11,
  Unused12 = 12,
  FloatVAX32 = 13,
  DoubleVAX64 = 14,
  FloatConvex32 = 15,
  DoubleConvex64 = 16,
  EndDType = 17,
};

// Byte orders of stored data.
enum BOrder : int {
  InValidBOrder = 0,
  LowByteFirst = 1,
  HighByteFirst = 2,
  EndBOrder = 3,
};

// Compression of a block's binary section.
enum DCompression : int {
  InValidDCompression = 0,
  UnCompressed = 1,
  GzipCompression = 2,
  ZCompression = 3,
  EndDCompression = 4,
};

// The host's numeric types.
enum MType : int {
  InValidMType = 0,
  MUnsignedChar = 1,
  MChar = 2,
  MUnsignedShort = 3,
  MShort = 4,
  MUnsignedInteger = 5,
  MInteger = 6,
  MUnsignedLong = 7,
  MLong = 8,
  MFloat = 9,
  MDouble = 10,
  EndMType = 11,
};

// Kinds of data file.
enum DFType : int {
  InValidDFType = 0,
  KvxType = 1,
  BslType = 2,
};

// ---------------------------------------------------------------------------
// Version texts, debug switch and limits

// "kvxio : V2.39 Ardeny 2011-12-13 (E2.219)"
const char *kvxio_version();
// The data format version written into general blocks: "2.40".
const char *kvx_dataformat_version();

// Sets the debug level (0 off); with a level above 0 the entry points print
// "<function> BEGIN" / "<function> END" trace lines on standard output.  The
// level is passed on to the compression module, the history record and the
// numeric expression library.
void kvxio_debug(int level);

// Fixed limits of the library.
int kvx_maxfiles();       // 20 open files at a time
int kvx_maxkeylen();      // 64 characters of a key, chain key or block key
int kvx_maxvallen();      // 512 characters of a value read from a header
int kvx_maxlinlen();      // 255 characters of one stored value piece
int kvx_maxdatachains();  // 20 data chains (reported only)
int kvx_buffersize();     // 512 stream buffer bytes per file
int kvx_maxdimensions();  // 512 dimensions of a data array (reported only)

// ---------------------------------------------------------------------------
// Library-wide settings.  They apply to files opened (and blocks written)
// after the call.  Each setter stores its argument and returns 0.

// General-block writing (default 0, off): when on, a new file starts with a
// general block that describes the file and counts its data blocks.
int kvx_general_block(int flag);
// Header-size writing (default 1, on): "KVX_HeaderSize" in every header.
int kvx_headersize(int flag);
// Lower bound of every header size in bytes (default 8192).
int kvx_set_minimumheadersize(unsigned long size);
// Output data type for the image-writing layer (default 0, none).
int kvx_set_datatype(int data_type);
// Compression of every data block written when not 0 (default 0).
int kvx_set_datacompression(int compression);
// Output value offset for the image-writing layer (default 0).
int kvx_set_datavalueoffset(long offset);
// Byte order handed to the BSL reader (default 0).
int kvx_set_bsl_input_byteorder(int byte_order);
// Maximum width of a header line in characters (default 0, no limit).  Longer
// values are broken with a backslash line continuation.
int kvx_set_max_line_width(long width);
// Separate binary files outside the KVX file's directory (default 0, off).
// A header's "KVX_BinaryFileName" is taken relative to the directory of the
// KVX file; while this is off, data are read only from files in that
// directory or below it: a name that is absolute, climbs out with "..", or
// passes a symbolic link that points out of the directory is refused
// (BinaryFileOutside), so that a KVX file cannot make its reader show any
// file the reader may read.  Needs Linux 5.6 or later (openat2).
int kvx_set_binary_files_outside(int flag);

// Current values of the settings above.
int kvx_get_general_block();
int kvx_get_headersize();
unsigned long kvx_get_minimumheadersize();
int kvx_get_datatype();
int kvx_get_datacompression();
long kvx_get_datavalueoffset();
int kvx_get_bsl_input_byteorder();
long kvx_get_max_line_width();
int kvx_get_binary_files_outside();

// Restores every setting to its default (for tests and embedding programs).
void kvx_reset_settings();

// ---------------------------------------------------------------------------
// Opening and closing

// Opens `fname` in `mode` and returns its stream number 0 to 19, or -1.
//   "new"  creates the file, emptying an existing one;
//   "old"  opens an existing file for reading and writing;
//   "any"  opens an existing file as "old", else creates it; an existing
//          file is never emptied;
//   "read" opens an existing file for reading only;
//   "temp" opens no file at all: every block stays in memory.
// An existing KVX file is scanned: its general block (if any) is read and
// every block is located, so that new blocks go behind the last one and
// continue its "HeaderID" sequence.  Opening never changes an existing file.
// With "old" and "read", a file that does not begin with a header is opened
// as a BSL data set (read only, see bslio.h).
// Errors: NoMoreStreamsAvailable (20 files open), CouldNotOpenFile,
// CouldNotMallocMemory / CouldNotSetBuffer (stream buffer),
// ErrorCreatingGeneralBlock, ErrorReadingGeneralBlock (not a KVX file, or
// its first header is unreadable), ErrorLocatingBlocks (a damaged block
// stops the scan; with "read" the blocks before it are kept and the open
// succeeds), CouldNotFindHeader ("old" on a file without blocks),
// CannotOpenAsBslFile, FileInUseByAnotherProcess.
// Every mode but "read" and "temp" holds the writer's lock (kvxio_lock.h)
// from the open to the close: while another process writes to the file,
// the open fails with FileInUseByAnotherProcess before anything is read or
// changed ("new" empties the file only once it holds the lock).
[[nodiscard]] int kvx_open_data_file(const char *fname, const char *mode, int *pErrorValue,
                                     int *pstatus);

// Opens the KVX file already open as the regular file `fd` for reading, as
// kvx_open_data_file(fname, "read") opens a KVX file; `fname` names it in
// messages.  The stream reads through a descriptor of its own on the same
// open file, so `fd` stays the caller's, who must not read or seek through
// it while the stream is open.  Errors as kvx_open_data_file; a file that
// is not a KVX file (a BSL data set included) is refused with
// ErrorReadingGeneralBlock, and a descriptor that is not one of a regular
// file with CouldNotOpenFile.
[[nodiscard]] int kvx_open_data_descriptor(int fd, const char *fname, int *pErrorValue,
                                           int *pstatus);

// The kind of a file: KvxType for an empty file or one that begins with a
// header, BslType for any other file, InValidDFType (CouldNotOpenFile) when
// it cannot be opened for reading or is not a regular file (a FIFO or a
// device is refused without waiting on it).
int data_file_type(const char *fname, int *pErrorValue, int *pstatus);

// The same for the file open as `fd`, which is left at its beginning.
int data_descriptor_type(int fd, int *pErrorValue, int *pstatus);

// Writes the block still being filled, frees every block of the stream and
// closes the file.  Stream numbers outside 0 to 19 are accepted and nothing
// is done.  When the last block cannot be written, its error value is
// reported and the stream stays open; CouldNotCloseFile when the file cannot
// be closed.  Returns 1 on success, 0 on failure.
int kvx_close_data_file(int stream, int *pErrorValue, int *pstatus);

// ---------------------------------------------------------------------------
// Header values.  Each call puts a keyed value into the header of image
// `DataNumber` of chain `DataChain` (1 for primary data, -1 error data, 0 the
// general block).  Values reach the file when the block is written, that is
// at the data write of the block, when another block is addressed, or at
// close.  Values longer than one header line (255 stored characters) continue
// under "key~1", "key~2", ...; keys are cut to 64 characters with a warning.
// Return 1 on success, 0 on failure (InvalidStream, NoFileOpen,
// FileIsNotWritable (opened with "read"), GeneralBlockNotFirst,
// MissingKeyDefinition, CouldNotInsertChain, CouldNotInsertBlock,
// CouldNotInsertSymbol (also for a null or empty key), the error of writing
// the block addressed before, or NumberConversionFailed for a float).

int kvx_write_header_line(int stream, long DataNumber, int DataChain, const char *keyword,
                          const char *Value, int *pErrorValue, int *pstatus);
// The same operation as kvx_write_header_line.
int kvx_write_header_string(int stream, long DataNumber, int DataChain, const char *keyword,
                            const char *Value, int *pErrorValue, int *pstatus);
// Stores the value with 7 significant digits ("1234.568", "1e-05").
int kvx_write_header_float(int stream, long DataNumber, int DataChain, const char *keyword,
                           float Value, int *pErrorValue, int *pstatus);
// The text kvx_write_header_float stores for `Value`, in `buffer` of
// `size` bytes (kvx_header_float_size() is always enough); null when the
// number cannot be formatted or the buffer is too small.  A caller that
// writes many headers of mostly equal numbers keeps such texts and stores
// them with kvx_write_header_line, with the same result.
char *kvx_header_float_text(float Value, char *buffer, size_t size);
size_t kvx_header_float_size();
// Stores the value in decimal ("-3", "0").
int kvx_write_header_long(int stream, long DataNumber, int DataChain, const char *keyword,
                          long Value, int *pErrorValue, int *pstatus);

// ---------------------------------------------------------------------------
// Data

// Writes image `DataNumber` of chain `DataChain` (header and data) to the
// file before it returns.  `Dim` is a dimension array: Dim[0] = n, Dim[1..n]
// the sizes (a null `Dim` means no data).  `pData` must hold
// kvx_data_sizeof(DataType) times the product of the sizes bytes; it is
// written as it is (`DataType` and `ByteOrder` only describe it) and stays
// the caller's.  A new image goes to the end of the file; an image written
// before in this session is rewritten in place and must fit into its old
// sizes.  Errors: those of selecting the block (see header values),
// BadSizeDefinition (size overflows 64 bits), CouldNotGetBinaryArray (no
// data buffer for a non-empty array), CouldNotWriteDimension,
// CouldNotWriteBinary, WriteDataError (the block could not be written or
// does not fit; it is then marked bad and never written again), or the
// compression error (negative, see cmpr.h) when compression is on and fails.
// Returns 1 on success, 0 on failure.
int kvx_write_data_raw(int stream, long DataNumber, int DataChain, const long *Dim,
                       const void *pData, int DataType, long DataValueOffset, int ByteOrder,
                       long RasterConfiguration, int *pErrorValue, int *pstatus);

// Asks for the dimensions of image `DataNumber` of chain `DataChain`.
// Returns 0 with CouldNotFindHeader when the image is not in the file (or
// with InvalidStream, NoFileOpen, MissingKeyDefinition for a bad stream or
// chain).  Returns 1 when the image exists; the call then succeeded unless
// the status says otherwise: the block becomes the active block (the one
// active before is written first), its header is read, and
//   pDim: the caller's dimension array, whose element 0 gives its capacity;
//         elements 1 to pDim[0] receive the sizes ("Dim_1", "Dim_2", ...),
//         1 for sizes beyond the image's; may be null;
//   pDataArraySize: bytes of the data array (elements times the size of
//         "DataType", FloatIEEE32 without it); may be null.
// Errors after the image was found: ReadDataError (header unreadable),
// CouldNotReadDimension (no "Dim_1" or a size that is no integer
// expression), NotNdData (a size beyond the capacity is not 1),
// BadSizeDefinition (the size overflows), or the error of writing the block
// active before.
int kvx_read_data_dimension(int stream, long DataNumber, int DataChain, long *pDim,
                            size_t *pDataArraySize, int *pErrorValue, int *pstatus);

// ---------------------------------------------------------------------------
// Data types, byte orders, compressions, machine types

// The header name of a data type ("UnsignedShort"); "Invalid" outside 0-16.
const char *kvx_datatype2string(int data_type);
// The data type of a name, alias or not, compared without regard to case and
// ignoring spaces and control characters; 0 when no name matches.
int kvx_string2datatype(const char *name);
// "None", "GzipCompression", "ZCompression"; "Invalid" for other codes.
const char *kvx_compression2string(int compression);
// The compression of a name or alias, or of the number 1, 2 or 3; else 0.
int kvx_string2compression(const char *name);
// "LowByteFirst", "HighByteFirst"; "Invalid" for other codes.
const char *ByteOrder2String(int byte_order);
// The byte order of a name; 0 when no name matches.
int String2ByteOrder(const char *name);
// Size of one stored value in bytes; 0 for codes without a size.
size_t kvx_data_sizeof(int data_type);
// The host's byte order, LowByteFirst or HighByteFirst.
int kvx_byteorder();
// Host type of a stored type and back; 0 when there is none.
int kvx_datatype2machinetype(int data_type);
int kvx_machinetype2datatype(int machine_type);
// Name and size of a host type ("unsigned short", 2); "Invalid" and 0 else.
const char *kvx_machinetype2string(int machine_type);
size_t kvx_machine_sizeof(int machine_type);
// Prints the table of stored types and their host types on standard output;
// with `flag` 0 only the types that have a host type, without a title.
void kvx_showdatatypes(int flag);

// ---------------------------------------------------------------------------
// History record of the command line

// Creates the history block `history_key`, or empties the existing one.
// Returns 1, or 0 for a null key.
int kvx_history_new(const char *history_key);
// Appends one argument (quoted when empty or when it holds white space or
// one of "()[]{}*") to the command line of the block; text beyond 2048
// characters is dropped.  Returns 1, or 0 when the block does not exist.
int kvx_history_argv(const char *history_key, const char *argument);
// The command line recorded under `history_key`, or null when the block
// does not exist.  Valid until the block changes.
const char *kvx_history_argv_line(const char *history_key);
// Switches the history debug output (traces of the two calls above).
void kvx_history_debug(int level);
// Forgets every history block (for tests).
void kvx_history_reset();
