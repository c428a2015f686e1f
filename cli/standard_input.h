// Standard input, read so that a stop signal ends every wait on it, and, for
// a compressed file, checked as its bytes arrive rather than after the end.
#ifndef MORAVINE_CLI_STANDARD_INPUT_H_
#define MORAVINE_CLI_STANDARD_INPUT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "codec/decompress.h"

namespace moravine::cli {

// Reads what standard input has, waiting in short steps: the number of
// bytes read, 0 at its end, -1 on an error (errno set) and -2 once a stop
// signal came.
int64_t ReadSomeStandardInput(unsigned char* buffer, int64_t size);

// Reads standard input to its end into *bytes, below 2 GiB. With
// `compressed`, the bytes must form one compressed file: its header is
// checked as soon as each field has arrived, and reading stops at the
// length the header gives. False with a sentence in *error; *stopped when a
// stop signal ended the reading.
bool ReadStandardInput(std::vector<unsigned char>* bytes, bool compressed, std::string* error, bool* stopped);

// Decodes a compressed file from standard input as it arrives, handing the
// text to the sink piece by piece. False with a sentence in *error (after
// whatever text was handed over); *stopped when a stop signal ended it. The
// sink may throw to stop the decoding.
bool DecodeStandardInput(const HDecodeSink& sink, std::string* error, bool* stopped);

}  // namespace moravine::cli

#endif  // MORAVINE_CLI_STANDARD_INPUT_H_
