#include "reference_select.h"

namespace reference {
namespace {

constexpr std::uint8_t kDrop = 7;

std::uint8_t classOf(const std::array<std::uint8_t, 224>& classes,
                     std::uint32_t v) {
  return v < 224 ? classes[v] : kDrop;
}

std::string fields(const std::u16string& units, std::size_t start,
                   const SurvivorsUTF16& table,
                   const std::array<std::uint8_t, 224>& classes,
                   const Options& o, bool filter) {
  std::string out;
  std::int64_t field = 1;
  bool target = o.field == 1;
  bool quoted = false;
  bool pending = false;
  std::uint32_t high = 0xD840;
  bool first = true;
  // A unit without a code writes its byte when it is ASCII, "?" otherwise.
  auto put = [&](std::uint32_t u) {
    if (!filter || classOf(classes, u) != kDrop) {
      out += u > 0x7F ? '?' : static_cast<char>(u);
    }
  };
  for (std::size_t i = start; i < units.size(); ++i) {
    std::uint32_t u = units[i];
    if (pending) {
      if (target) {
        out += static_cast<char>(table.pair(high, u, 1));
        out += static_cast<char>(table.pair(high, u, 2));
      }
      pending = false;
      continue;
    }
    std::uint8_t kind = table.entry(u, 0);
    if (kind == 1) {
      if (target) {
        out += static_cast<char>(table.entry(u, 1));
        out += static_cast<char>(table.entry(u, 2));
      }
      continue;
    }
    if (kind == 2) {
      if (target) {
        std::uint8_t v = classOf(classes, table.entry(u, 1));
        if (v != kDrop) out += static_cast<char>(v);
      }
      continue;
    }
    if (kind == 3) {
      high = u;
      pending = true;
      continue;
    }
    if (u == 0x0A) {
      if (o.crlf) out += '\r';
      out += '\n';
      field = 1;
      target = o.field == 1;
      if (first) {
        first = false;
        quoted = false;
        high = 0xD840;
      }
    } else if (u == 0x0D) {
    } else if (u == o.quote) {
      quoted = !quoted;
    } else if (u == o.separator) {
      if (!quoted) {
        if (target) put(u);
        ++field;
        target = field == o.field;
      } else if (!o.quoted_separator_dropped && target) {
        put(u);
      }
    } else if (target) {
      put(u);
    }
  }
  return out;
}

std::string numbers(const std::u16string& units, std::size_t start,
                    const SurvivorsUTF16& table,
                    std::array<std::uint8_t, 224> classes, const Options& o,
                    bool decimal) {
  std::string out;
  auto reset = [&] {
    classes['-'] = '-';
    if (decimal) classes['.'] = '.';
  };
  std::int64_t field = 1;
  bool quoted = false, pending = false, begun = false, point = false;
  bool target = o.field == 1;
  if (target) reset();
  bool first = true;
  for (std::size_t i = start; i < units.size(); ++i) {
    std::uint32_t u = units[i];
    if (pending) {
      pending = false;
      if (target && begun) target = false;
      continue;
    }
    std::uint8_t kind = table.entry(u, 0);
    if (kind == 1 || kind == 2) {
      if (target && begun) target = false;
      continue;
    }
    if (kind == 3) {
      pending = true;
      continue;
    }
    if (u == 0x0A) {
      if (decimal && !point) {
        out += '.';
        out += static_cast<char>(o.completion);
      }
      if (o.crlf) out += '\r';
      out += '\n';
      field = 1;
      target = o.field == 1;
      begun = point = false;
      if (target) reset();
      if (first) {
        first = false;
        quoted = false;
      }
    } else if (u == 0x0D) {
    } else if (u == o.quote) {
      quoted = !quoted;
    } else if (u == o.separator && !quoted) {
      ++field;
      target = field == o.field;
      if (target) {
        reset();
        begun = point = false;
      }
    } else if (u == o.separator) {
      if (!o.quoted_separator_dropped && target && begun) target = false;
    } else if (target) {
      std::uint8_t v = u > 0xA0 ? kDrop : classes[u];
      if (v == kDrop) {
        if (begun) target = false;
      } else {
        out += static_cast<char>(u);
        begun = true;
        if (u == '.') {
          point = true;
          classes['.'] = kDrop;
        }
        classes['-'] = kDrop;
      }
    }
  }
  return out;
}

}  // namespace

std::string select(const std::u16string& units, std::size_t start,
                   const SurvivorsUTF16& table,
                   std::array<std::uint8_t, 224> classes, const Options& o) {
  switch (o.column) {
    case Column::kPlain:
      return fields(units, start, table, classes, o, false);
    case Column::kFiltered:
      return fields(units, start, table, classes, o, true);
    case Column::kDecimal:
      return numbers(units, start, table, classes, o, true);
    case Column::kInteger:
      return numbers(units, start, table, classes, o, false);
  }
  return std::string();  // every column is handled above
}

}  // namespace reference
