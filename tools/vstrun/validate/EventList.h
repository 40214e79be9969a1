// An event list for effProcessEvents with records of the interface's layout.
#pragma once

#include <utility>
#include <vector>

#include "host/DAEffectX.h"

namespace validate {

class EventList {
 public:
  void clear();
  void addMidi(int deltaFrames, unsigned char status, unsigned char data1, unsigned char data2);
  void addSysex(int deltaFrames, const std::vector<unsigned char>& bytes);
  VstEvents* events();
  size_t size() const { return order_.size(); }

 private:
  struct Sysex {
    VstInt32 type, byteSize, deltaFrames, flags, dumpBytes;
    VstIntPtr resvd1;
    char* sysexDump;
    VstIntPtr resvd2;
  };
  std::vector<VstMidiEvent> midi_;
  std::vector<Sysex> sysex_;
  std::vector<std::vector<unsigned char>> dumps_;
  std::vector<std::pair<bool, size_t>> order_;  // sysex?, index
  std::vector<char> block_;
};

}  // namespace validate
