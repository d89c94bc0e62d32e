#include "CliJson.h"

#include <set>
#include <vector>

namespace {

// Where the parser stands: one frame per object or array being read.
struct TFrame {
  bool object = false;
  std::set<std::string> keys;
  std::string key;      // the object member being read
  bool inValue = false; // its value is being read (after its key)
  size_t index = 0;     // the array element being read, plus one
  std::string place;    // of the object or array itself
};

struct TRefusal {
  std::string message;
};

std::string PlaceOf(const std::vector<TFrame>& frames) {
  if (frames.empty()) {
    return {};
  }
  const TFrame& top = frames.back();
  return top.object ? TCliJson::Place(top.place, top.key)
                    : TCliJson::Place(top.place, top.index == 0 ? 0 : top.index - 1);
}

// Where the text that the parser stopped in stands: the value being read, or a key of the
// object on top ("a key of fields").
std::string StoppedAt(const std::vector<TFrame>& frames) {
  if (frames.empty()) {
    return {};
  }
  const TFrame& top = frames.back();
  if (!top.object) {
    return " at " + TCliJson::Place(top.place, top.index);
  }
  if (top.inValue) {
    return " at " + TCliJson::Place(top.place, top.key);
  }
  return top.place.empty() ? " in a key" : " in a key of " + top.place;
}

// A new element of the array on top begins.
void NextElement(std::vector<TFrame>& frames) {
  if (!frames.empty() && !frames.back().object) {
    ++frames.back().index;
  }
}

} // namespace

std::string TCliJson::Place(const std::string& parent, const std::string& key) {
  return parent.empty() ? key : parent + "." + key;
}

std::string TCliJson::Place(const std::string& parent, size_t index) {
  return parent + "[" + std::to_string(index) + "]";
}

std::string TCliJson::Dump(const TJson& value, int indent) {
  return value.dump(indent, ' ', false, TJson::error_handler_t::replace);
}

std::string TCliJson::Quote(std::string_view utf8) {
  return Dump(TJson(std::string(utf8)), -1);
}

bool TCliJson::Parse(std::string_view text, TJson& value, std::string& error) {
  std::vector<TFrame> frames;
  const auto check = [&frames](int, TJson::parse_event_t event, TJson& parsed) {
    switch (event) {
    case TJson::parse_event_t::object_start:
    case TJson::parse_event_t::array_start: {
      NextElement(frames);
      TFrame frame;
      frame.object = event == TJson::parse_event_t::object_start;
      frame.place = PlaceOf(frames);
      frames.push_back(std::move(frame));
      break;
    }
    case TJson::parse_event_t::object_end:
    case TJson::parse_event_t::array_end:
      frames.pop_back();
      if (!frames.empty()) {
        frames.back().inValue = false;
      }
      break;
    case TJson::parse_event_t::key: {
      TFrame& object = frames.back();
      object.key = parsed.get<std::string>();
      object.inValue = true;
      if (object.key.find('\0') != std::string::npos) {
        throw TRefusal{"an escape that makes no text (\\u0000) in a key at " + PlaceOf(frames)};
      }
      if (!object.keys.insert(object.key).second) {
        throw TRefusal{"a key given twice: " + PlaceOf(frames)};
      }
      break;
    }
    case TJson::parse_event_t::value:
      NextElement(frames);
      if (!frames.empty()) {
        frames.back().inValue = false;
      }
      if (parsed.is_string() &&
          parsed.get_ref<const std::string&>().find('\0') != std::string::npos) {
        const std::string place = PlaceOf(frames);
        throw TRefusal{"an escape that makes no text (\\u0000)" +
                       (place.empty() ? std::string() : " at " + place)};
      }
      break;
    }
    return true;
  };
  try {
    value = TJson::parse(text.begin(), text.end(), check);
    return true;
  } catch (const TRefusal& refusal) {
    error = refusal.message;
  } catch (const TJson::parse_error& parse) {
    // "[json.exception.parse_error.101] parse error at line 1, column 9: syntax error while
    // parsing value - invalid string: surrogate U+D800..." without the library's prefix.
    std::string message = parse.what();
    const size_t at = message.find(" at line ");
    message = at == std::string::npos ? message : message.substr(at + 4);
    if (message.find("surrogate U+") != std::string::npos) {
      // Named like the other escapes that make no text, by its place; the parser's line and
      // column ("line 1, column 9") follow.
      error = "an escape that makes no text (a lone surrogate)" + StoppedAt(frames) + " (" +
              message.substr(0, message.find(':')) + ")";
    } else {
      error = "not valid JSON: " + message;
    }
  } catch (const TJson::exception& other) {
    error = std::string("not valid JSON: ") + other.what();
  }
  value = TJson();
  return false;
}
