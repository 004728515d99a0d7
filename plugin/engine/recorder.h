// The recording in progress: the cache file being written (through sel's cache writer), the count
// table of the samples written, the records the capture keeps between evaluations, and which
// evaluation the recorder asks for. The modifier owns one; its Record operation drives it.
#pragma once
#include <string>

#include "sel/writer.h"
#include "vomark/sdk.h"

class Recorder {
  public:
    // Opens the target (a new file beside it, put in its place by Finish) and writes the header.
    // "" or the line naming the target and the system's reason; not recording then.
    std::string Open(const std::string& target, int samplesPerFrame, int announced);
    bool Recording() const { return recording != 0; }
    // The evaluation asked for next, at tick t; `last` marks the last evaluation of a sample, the
    // one whose capture writes the sample.
    void Request(TimeValue t, bool last);
    // The capture branch of an evaluation at t while recording: an evaluation at the requested time
    // captures the incoming weights (the running largest with accumulateSelection on); every
    // evaluation moves the requested time on by one tick.
    void Capture(TimeValue t, TriObject* object, int incomingCount, IParamBlock2* pblock);
    // Each whole frame reaches the file, so that a crash keeps every frame before it.
    void EndFrame();
    // The count table, word 2 when fewer samples were written than announced, then the file in its
    // place. "" or the line naming the target and the system's reason (the old file is kept then).
    std::string Finish();

  private:
    sel::CacheWriter cacheFile;
    Tab<int> countTable;
    Tab<sel::SampleRecord> accumulated;
    int recording = 0;
    int recordTime = 0;
    int writeNow = 0;
};
