#pragma once
// The error of the MP3 analysis: a code with its fixed text, the file and the
// system call it concerns, and optionally the system's text of the failure.
#include <exception>
#include <string>

namespace kelvara::media {

class CMPAException : public std::exception {
 public:
  enum ErrorID {
    ErrOpenFile = 0,
    ErrSetPosition = 1,
    ErrReadFile = 2,
    EndOfBuffer = 3,
    NoVBRHeader = 4,
    IncompleteVBRHeader = 5,
    NoFrameInTolerance = 6,
    NoFrame = 7,
    HeaderCorrupt = 8,
    FreeBitrate = 9,
    IncompatibleHeader = 10,
    CorruptLyricsTag = 11,
  };

  // With showLastError the current errno's text is kept for the message.
  explicit CMPAException(ErrorID id, std::string fileName = {}, std::string function = {},
                         bool showLastError = false);

  ErrorID GetErrorID() const { return id_; }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name) { fileName_ = name; message_ = Build(); }
  // The whole text shown to the user ("file: 'call'\ntext\nsystem text").
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

  static const char* ErrorText(ErrorID id);
  static constexpr const char* kCaption = "MPAFile Error";

 private:
  std::string Build() const;

  ErrorID id_;
  std::string fileName_;
  std::string function_;
  std::string systemText_;
  std::string message_;
};

}  // namespace kelvara::media
