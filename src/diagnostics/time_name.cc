#include "diagnostics/time_name.h"

#include <limits>

#include "diagnostics/messages_text.h"
#include "platform/text_file.h"

namespace {

// One serial number for the whole process. It is only a cache: every report
// reads serial.txt again, and keeps this value only when that file can be
// neither read nor created.
std::int32_t g_serial = 0;

// The longest first line read from serial.txt. A counter needs a dozen
// bytes; a longer line is no number anyway, and the bound keeps a counter
// that is a huge file (or a device that never ends) from stalling a report.
constexpr std::size_t kLongestCounterLine = 4096;

// Puts a number in place of the counter's content: the number goes over the
// old content first, and only then is the file cut to it, so a process
// killed at any moment leaves a counter whose first line is the old number
// or the new one, never an empty file (which would restart the numbering at
// 0). Over a longer content the number is followed by a line end until the
// cut, or its digits would run into the old ones ("0" over "2147483647"
// would read 147483647); a size that cannot be had counts as longer.
bool storeCounter(platform::File* file, const std::string& number) {
  const auto length = static_cast<std::int64_t>(number.size());
  std::int64_t old_size = 0;
  const bool longer =
      file->size(&old_size) != platform::Status::kOk || old_size > length;
  const std::string text = longer ? number + "\n" : number;
  std::size_t written = 0;
  return file->writeAt(0, text.data(), text.size(), &written) ==
             platform::Status::kOk &&
         file->resize(length) == platform::Status::kOk;
}

}  // namespace

std::int32_t TimeNames::serialNumber() { return g_serial; }

void TimeNames::resetSerialNumberForTesting() { g_serial = 0; }

std::int32_t TimeNames::following(std::int32_t n) {
  return n == std::numeric_limits<std::int32_t>::max() ? 0 : n + 1;
}

std::int32_t TimeNames::signed_sequence_to_integer(const std::string& text,
                                                   bool* ok) {
  *ok = false;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return -1;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
      return -1;
    }
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return -1;
  *ok = true;
  return static_cast<std::int32_t>(value);
}

std::string TimeNames::minutesOf(const std::string& date_time) {
  std::size_t colon = date_time.find(':');
  if (colon == std::string::npos) return std::string();
  std::string minutes = date_time.substr(colon + 1, 2);
  return minutes.substr(0, minutes.find(':'));
}

std::string TimeNames::secondsOf(const std::string& date_time) {
  // The ":_" keeps a time without seconds apart from a text without a time:
  // the first gives "_", the second nothing.
  std::string text = date_time + ":_";
  std::size_t colon = text.find(':');
  std::string five = text.substr(colon + 1, 5);
  std::size_t second_colon = five.find(':');
  if (second_colon == std::string::npos) return std::string();
  std::string seconds = five.substr(second_colon + 1, 2);
  return seconds.substr(0, seconds.find(':'));
}

void TimeNames::recordCounterFailure(const std::string& text) {
  MessagesTexts writer;
  if (writer.writeText(kCounterErrorFileName, text) != platform::Status::kOk) {
    platform::writeStandardError(text);
  }
}

std::int32_t TimeNames::setUp(const std::string& prefix,
                              const std::string& extension) {
  prefix_ = prefix;
  extension_ = extension;
  serial_writable_ = false;

  platform::Status status = serial_file_.openReadWriteNoLink(kSerialFileName);
  if (status == platform::Status::kNotFound) {
    // A missing counter starts at "0". The file appears whole, so a run that
    // starts at the same moment reads "0" and not an empty file.
    bool exists = false;
    platform::Status created =
        platform::createNewWithContent(kSerialFileName, "0", &exists);
    if (created == platform::Status::kOk || exists) {
      status = serial_file_.openReadWriteNoLink(kSerialFileName);
    }
  }
  if (status == platform::Status::kOk) {
    serial_writable_ = true;
  } else if (status != platform::Status::kNotFound) {
    // A read-only counter can still be read; its rewrite will fail (232).
    status = serial_file_.openReadNoLink(kSerialFileName);
  }

  std::string line;
  bool readable =
      status == platform::Status::kOk &&
      serial_file_.lockExclusive() == platform::Status::kOk &&
      platform::readFirstLine(&serial_file_, kLongestCounterLine, false,
                              &line) == platform::TextRead::kRead;
  if (readable) {
    bool ok = false;
    std::int32_t value = signed_sequence_to_integer(line, &ok);
    if (!ok) {
      recordCounterFailure("sequence_to_integer() error-230: " + line);
      value = -1;
    }
    g_serial = value;
    return g_serial;
  }

  // Unreadable (or uncreatable) counter: start again at 0 in a new file,
  // which appears whole or not at all: an empty one would restart the
  // numbering (230) at the next report.
  bool renewed = false;
  if (serial_writable_) {
    renewed = storeCounter(&serial_file_, "0");
  } else {
    (void)serial_file_.close();
    bool refused = false;
    renewed = platform::replaceWithContent(kSerialFileName, "0", &refused) ==
              platform::Status::kOk;
  }
  if (renewed) {
    g_serial = 0;
  } else {
    recordCounterFailure("Rewrite() error-231: serial.txt");
  }
  return g_serial;
}

std::string TimeNames::nextName(bool advance) {
  std::string date_time = platform::localDateTimeText();
  std::string minutes = minutesOf(date_time);
  std::string seconds = secondsOf(date_time);

  if (advance) {
    std::int32_t next = following(g_serial);
    std::string text = std::to_string(next);
    bool refused = false;
    bool stored = false;
    if (serial_writable_) {
      // Rewritten through the locked handle: reopening would drop the lock.
      stored = storeCounter(&serial_file_, text) &&
               serial_file_.close() == platform::Status::kOk;
    } else {
      // A counter this process may write but not read (or one that could
      // not be opened at all) is made anew, whole or not at all; there was
      // no lock to keep.
      (void)serial_file_.close();
      stored = platform::replaceWithContent(kSerialFileName, text, &refused) ==
               platform::Status::kOk;
    }
    if (refused) {
      recordCounterFailure("Rewrite() error-232: ");
    } else {
      g_serial = next;
      if (!stored) recordCounterFailure("Rewrite() error-232: " + text);
    }
  }
  (void)serial_file_.close();  // releases the lock

  return prefix_ + std::to_string(g_serial) + "-" + minutes + "-" + seconds +
         extension_;
}
