// The song clock: 1,024 ticks of 2,448 samples; at the first sample of a
// tick each track reads one note byte, then the 17 programs run in record
// order and the GlobalInstrument's main pair becomes the next frame.
#include <cstring>

#include "synth/synth.h"
#include "synth/units.h"

namespace synth {

void updateTrackNote(Engine& engine, int track, int tick) {
  const SongView& song = engine.song;
  int slot = tick / kRowsPerPattern;
  int row = tick % kRowsPerPattern;
  unsigned pattern = song.orderList[track * kOrderSlots + slot];
  // Note bytes are signed: 1 holds, anything below 1 (0 and 128..255) releases.
  auto b = static_cast<int8_t>(song.patternTable[pattern * kRowsPerPattern + row]);
  if (b == 1) return;
  InstrumentRecord& record = engine.records[track];
  record.releaseCount += 1;
  if (b > 1) {
    // A new note, even the one already playing: clear releaseCount, note and
    // every workspace; the output words keep their last values.
    std::memset(&record, 0, offsetof(InstrumentRecord, auxLeft));
    record.note = b;
  }
}

void runInstrument(Engine& engine, InstrumentRecord& record) {
  runUnitProgram(engine, record);
  applyVoiceEnd(record);
}

Frame renderSample(Engine& engine, int tick, int sample) {
  engine.commandPosition = 0;
  engine.parameterPosition = 0;
  engine.delayCursor = 0;
  for (int t = 0; t < kTrackCount; ++t) {
    if (sample == 0) updateTrackNote(engine, t, tick);
    runInstrument(engine, engine.records[t]);
  }
  InstrumentRecord& global = engine.records[kGlobalRecord];
  global.note = kGlobalNote;
  runUnitProgram(engine, global);
  return {clampOutput(global.mainLeft), clampOutput(global.mainRight)};
}

namespace {

void noteClamp(float v, float clamped, float& peak, uint32_t& count) {
  float magnitude = v < 0 ? -v : v;
  if (magnitude > peak) peak = magnitude;
  if (!(clamped == v)) ++count;
}

}  // namespace

void renderFrames(Engine& engine, const SongView& song, Frame* out, uint32_t frameCount,
                  RenderProgress* progress, RenderStats* stats, RenderPath path) {
  startEngine(engine, song);
  Frame (*step)(Engine&, int, int) = path == RenderPath::kFast ? renderSampleFast : renderSample;
  const InstrumentRecord& global = engine.records[kGlobalRecord];
  for (uint32_t n = 0; n < frameCount; ++n) {
    out[n] = step(engine, static_cast<int>(n / kSamplesPerTick),
                  static_cast<int>(n % kSamplesPerTick));
    if (stats != nullptr) {
      noteClamp(global.mainLeft, out[n].left, stats->peakLeft, stats->clampedLeft);
      noteClamp(global.mainRight, out[n].right, stats->peakRight, stats->clampedRight);
    }
    if (progress != nullptr) progress->framesWritten.store(n + 1, std::memory_order_release);
  }
}

void renderSong(Engine& engine, const SongView& song, Frame* out, RenderProgress* progress) {
  renderFrames(engine, song, out, kSongFrameCount, progress);
}

}  // namespace synth
