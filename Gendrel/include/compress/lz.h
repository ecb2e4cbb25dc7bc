#ifndef JX_LZ_H
#define JX_LZ_H

// A small dictionary compressor for byte buffers held in memory.
//
// The stream has no header, size field or checksum: the caller keeps the sizes. Byte 0 is a marker byte chosen
// by the encoder; then come literal bytes, the marker followed by 0x00 for one marker byte, or the marker followed
// by a variable-size length and offset for a copy from earlier output.
//
// The functions keep no state between calls and allocate nothing, so any thread may call them on its own buffers.

// Room an encoder's output buffer needs for an input of insize bytes.
inline unsigned int LZ_CompressBound(unsigned int insize)
{
    return insize + insize / 256 + 1;
}

// Number of 32-bit words of the work area LZ_CompressFast needs for an input of insize bytes.
inline unsigned int LZ_CompressFastWorkWords(unsigned int insize)
{
    return 65536 + insize;
}

// Encodes insize bytes of in into out, which must hold LZ_CompressBound(insize) bytes. Returns the number of bytes
// written (0 for an empty input). Searches every offset up to 100000 bytes back, so it is slow on large inputs.
int LZ_Compress(const unsigned char* in, unsigned char* out, unsigned int insize);

// Same stream format as LZ_Compress, searching only earlier positions that start with the same two bytes (offsets
// up to 99999). work must hold LZ_CompressFastWorkWords(insize) words; its contents are overwritten.
int LZ_CompressFast(const unsigned char* in, unsigned char* out, unsigned int insize, unsigned int* work);

// Decodes a stream of insize bytes into out, which must hold the decoded size the caller knows from its own
// records. Reads only inside the stream and never before the start of out; a corrupt token ends the decoding.
// Nothing stops a corrupt stream from writing past the end of out: prefer LZ_UncompressBounded.
void LZ_Uncompress(const unsigned char* in, unsigned char* out, unsigned int insize);

// Decodes a stream of insize bytes into out, which holds outsize bytes (at most INT_MAX are used). Returns the number
// of bytes produced, or -1 when the stream is corrupt: an offset of 0 or reaching before the start of the output, a
// token that does not fit in the room left, a variable-size integer longer than 5 bytes or above 32 bits, or a
// token cut off by the end of the stream. Never reads or writes outside the two buffers; after -1 the contents of
// out are unspecified.
int LZ_UncompressBounded(const unsigned char* in, unsigned int insize, unsigned char* out, unsigned int outsize);

#endif
