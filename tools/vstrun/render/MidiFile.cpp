#include "render/MidiFile.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "vsthost/Files.h"

namespace vstrun {

namespace {

[[noreturn]] void fail(const std::string& why, size_t offset) {
  char where[48];
  std::snprintf(where, sizeof where, " (at byte %zu)", offset);
  throw std::runtime_error("malformed MIDI file: " + why + where);
}

uint32_t be32(const std::vector<uint8_t>& d, size_t at) {
  return (uint32_t(d[at]) << 24) | (uint32_t(d[at + 1]) << 16) | (uint32_t(d[at + 2]) << 8) | d[at + 3];
}

struct Raw {
  uint64_t tick;
  size_t track;
  size_t order;
  TimedMidi msg;
};

class TrackReader {
 public:
  TrackReader(const std::vector<uint8_t>& d, size_t begin, size_t end) : d_(d), pos_(begin), end_(end) {}
  bool done() const { return pos_ >= end_; }
  size_t offset() const { return pos_; }
  uint8_t byte() {
    if (pos_ >= end_) fail("a track ends in the middle of an event", pos_);
    return d_[pos_++];
  }
  uint8_t peek() const {
    if (pos_ >= end_) fail("a track ends in the middle of an event", pos_);
    return d_[pos_];
  }
  // Variable-length quantity: at most four bytes, 28 bits.
  uint32_t vlq() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const uint8_t b = byte();
      value = (value << 7) | (b & 0x7F);
      if (!(b & 0x80)) return value;
    }
    fail("a variable-length number is longer than four bytes", pos_);
  }
  void skip(uint32_t n) {
    if (n > end_ - pos_) fail("an event's length runs past the end of its track", pos_);
    pos_ += n;
  }
  // The next n bytes, checked to lie inside the track.
  const uint8_t* take(uint32_t n) {
    const uint8_t* p = d_.data() + pos_;
    skip(n);
    return p;
  }

 private:
  const std::vector<uint8_t>& d_;
  size_t pos_, end_;
};

// The header: format, track count and how ticks become seconds.
struct Header {
  unsigned tracks = 0;
  size_t firstChunk = 0;
  double smpteSecondsPerTick = 0.0;  // fixed for SMPTE timing; 0: from the tempo map
  unsigned ticksPerQuarter = 0;
};

Header readHeader(const std::vector<uint8_t>& d) {
  if (d.size() < 14 || d[0] != 'M' || d[1] != 'T' || d[2] != 'h' || d[3] != 'd')
    fail("it does not start with an MThd header", 0);
  const uint32_t headerLength = be32(d, 4);
  if (headerLength < 6 || headerLength > d.size() - 8) fail("the header's length is wrong", 4);
  Header h;
  const unsigned format = (d[8] << 8) | d[9];
  h.tracks = (d[10] << 8) | d[11];
  h.firstChunk = 8 + headerLength;
  const uint16_t division = static_cast<uint16_t>((d[12] << 8) | d[13]);
  if (format > 1)
    throw std::runtime_error("MIDI file of type " + std::to_string(format) + ": only types 0 and 1 are supported");
  if (format == 0 && h.tracks != 1) fail("a type 0 file must hold exactly one track", 10);
  if (division & 0x8000) {
    const int fps = -static_cast<int8_t>(division >> 8);
    const int perFrame = division & 0xFF;
    if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || perFrame == 0)
      fail("the SMPTE time division is invalid", 12);
    h.smpteSecondsPerTick = 1.0 / ((fps == 29 ? 29.97 : fps) * perFrame);
  } else {
    h.ticksPerQuarter = division;
    if (h.ticksPerQuarter == 0) fail("the time division is 0 ticks per quarter note", 12);
  }
  return h;
}

// What the tracks hold: channel messages in ticks, and the tempo map.
struct Events {
  std::vector<Raw> raw;
  std::map<uint64_t, uint32_t> tempoChanges;  // tick -> microseconds per quarter; the last one at a tick wins
  size_t order = 0;
};

// A meta event (after its 0xFF); false once it ends the track.
bool readMeta(TrackReader& r, uint64_t tick, Events& out) {
  const uint8_t type = r.byte();
  const uint32_t len = r.vlq();
  if (type == 0x51 && len != 3) fail("a tempo event's length is not 3", r.offset());
  const uint8_t* p = r.take(len);
  if (type == 0x2F) return false;
  if (type == 0x51) {
    const uint32_t usPerQuarter = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    if (usPerQuarter == 0) fail("a tempo of 0 microseconds per quarter note", r.offset() - 3);
    out.tempoChanges[tick] = usPerQuarter;
  }
  return true;
}

void readChannelMessage(TrackReader& r, uint8_t status, uint64_t tick, size_t track, Events& out) {
  Raw ev{tick, track, out.order++, {}};
  ev.msg.bytes[0] = status;
  const uint8_t kind = status & 0xF0;
  ev.msg.size = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
  for (int i = 1; i < ev.msg.size; ++i) {
    const uint8_t b = r.byte();
    if (b & 0x80) fail("a status byte where a data byte belongs", r.offset() - 1);
    ev.msg.bytes[i] = b;
  }
  out.raw.push_back(ev);
}

void readTrack(TrackReader r, size_t track, Events& out) {
  uint64_t tick = 0;
  uint8_t running = 0;
  while (!r.done()) {
    tick += r.vlq();
    uint8_t status = r.peek();
    if (status & 0x80) {
      r.byte();
    } else {
      if (!running) fail("a data byte without a status byte (running status with nothing to run)", r.offset());
      status = running;
    }
    if (status == 0xFF) {
      if (!readMeta(r, tick, out)) return;
    } else if (status == 0xF0 || status == 0xF7) {
      r.skip(r.vlq());
    } else if (status >= 0xF1) {
      fail("a system message that cannot appear in a MIDI file", r.offset() - 1);
    } else {
      running = status;
      readChannelMessage(r, status, tick, track, out);
    }
  }
}

// Every MTrk chunk the header announces; chunks of other kinds are skipped,
// as the format asks.
Events readTracks(const std::vector<uint8_t>& d, const Header& h) {
  Events events;
  size_t pos = h.firstChunk;
  for (size_t track = 0; track < h.tracks;) {
    if (pos + 8 > d.size()) fail("the file ends before all of its tracks", pos);
    const uint32_t length = be32(d, pos + 4);
    const bool isTrack = d[pos] == 'M' && d[pos + 1] == 'T' && d[pos + 2] == 'r' && d[pos + 3] == 'k';
    if (length > d.size() - pos - 8) fail("a chunk's length runs past the end of the file", pos + 4);
    if (isTrack) readTrack(TrackReader(d, pos + 8, pos + 8 + length), track++, events);
    pos += 8 + length;
  }
  return events;
}

// Ticks to seconds through the tempo map (120 BPM until the first change),
// in time order; at equal times by track, then by order in the track.
std::vector<TimedMidi> timed(Events& events, const Header& h) {
  std::stable_sort(events.raw.begin(), events.raw.end(), [](const Raw& a, const Raw& b) {
    if (a.tick != b.tick) return a.tick < b.tick;
    if (a.track != b.track) return a.track < b.track;
    return a.order < b.order;
  });
  std::vector<TimedMidi> out;
  out.reserve(events.raw.size());
  uint64_t lastTick = 0;
  double lastSeconds = 0.0;
  uint32_t usPerQuarter = 500000;
  auto tempo = events.tempoChanges.begin();
  for (Raw& ev : events.raw) {
    if (h.smpteSecondsPerTick > 0.0) {
      ev.msg.seconds = static_cast<double>(ev.tick) * h.smpteSecondsPerTick;
    } else {
      while (tempo != events.tempoChanges.end() && tempo->first <= ev.tick) {
        lastSeconds += static_cast<double>(tempo->first - lastTick) * usPerQuarter / 1e6 / h.ticksPerQuarter;
        lastTick = tempo->first;
        usPerQuarter = tempo->second;
        ++tempo;
      }
      ev.msg.seconds = lastSeconds + static_cast<double>(ev.tick - lastTick) * usPerQuarter / 1e6 / h.ticksPerQuarter;
    }
    out.push_back(ev.msg);
  }
  return out;
}

}  // namespace

std::vector<TimedMidi> parseMidiFile(const std::vector<uint8_t>& d) {
  const Header header = readHeader(d);
  Events events = readTracks(d, header);
  return timed(events, header);
}

std::vector<TimedMidi> readMidiFile(const std::string& path) {
  std::string text;
  if (!vsthost::readFile(path, text)) throw std::runtime_error(path + ": cannot open or read the MIDI file");
  const std::vector<uint8_t> data(text.begin(), text.end());
  try {
    return parseMidiFile(data);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

}  // namespace vstrun
