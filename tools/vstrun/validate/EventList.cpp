#include "validate/EventList.h"

#include <cstddef>

namespace validate {

void EventList::clear() {
  midi_.clear();
  sysex_.clear();
  dumps_.clear();
  order_.clear();
}

void EventList::addMidi(int deltaFrames, unsigned char status, unsigned char data1, unsigned char data2) {
  VstMidiEvent e{};
  e.type = kVstMidiType;
  e.byteSize = sizeof(VstMidiEvent);
  e.deltaFrames = deltaFrames;
  e.midiData[0] = static_cast<char>(status);
  e.midiData[1] = static_cast<char>(data1);
  e.midiData[2] = static_cast<char>(data2);
  midi_.push_back(e);
  order_.emplace_back(false, midi_.size() - 1);
}

void EventList::addSysex(int deltaFrames, const std::vector<unsigned char>& bytes) {
  dumps_.push_back(bytes);
  Sysex s{};
  s.type = kVstSysExType;
  s.byteSize = static_cast<VstInt32>(sizeof(Sysex));
  s.deltaFrames = deltaFrames;
  s.dumpBytes = static_cast<VstInt32>(bytes.size());
  sysex_.push_back(s);
  order_.emplace_back(true, sysex_.size() - 1);
}

VstEvents* EventList::events() {
  // The pointers are taken only now: the vectors no longer move.
  for (size_t i = 0; i < sysex_.size(); ++i) sysex_[i].sysexDump = reinterpret_cast<char*>(dumps_[i].data());
  const size_t header = offsetof(VstEvents, events);
  block_.assign(header + (order_.size() + 2) * sizeof(VstEvent*), 0);
  VstEvents* list = reinterpret_cast<VstEvents*>(block_.data());
  list->numEvents = static_cast<VstInt32>(order_.size());
  for (size_t i = 0; i < order_.size(); ++i) {
    void* e = order_[i].first ? static_cast<void*>(&sysex_[order_[i].second])
                              : static_cast<void*>(&midi_[order_[i].second]);
    list->events[i] = static_cast<VstEvent*>(e);
  }
  return list;
}

}  // namespace validate
