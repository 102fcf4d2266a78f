// Signing of a built setup with the code-signing tool osslsigncode (an
// Authenticode signature in the image's certificate table).
#pragma once

#include <string>
#include <vector>

struct TSignOptions {
    std::string Certificate;   // PEM or DER certificate (chain) file
    std::string Key;           // its private key
    std::string PasswordFile;  // file whose first line is the key's password; empty: none
    std::string TimestampUrl;  // RFC 3161 timestamping server; empty: none
    bool Enabled() const { return !Certificate.empty() || !Key.empty(); }
};

// The arguments of the signing run (program name first). With
// SOURCE_DATE_EPOCH set, the signing time is that moment, so the same input
// signs to the same bytes (without a timestamp server).
std::vector<std::string> SignCommand(const TSignOptions& options, const std::string& input,
                                     const std::string& output);

// Checks the options and that the files exist; raises EStreamError naming
// the problem. Also raises when osslsigncode cannot be found on the PATH.
void CheckSignOptions(const TSignOptions& options);

// Signs input into output (a new file). Raises EStreamError with the tool's
// own messages when it fails; output is then removed.
void SignFile(const TSignOptions& options, const std::string& input, const std::string& output);
