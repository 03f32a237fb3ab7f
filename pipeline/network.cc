#include "network.h"

#include "host_message.h"
#include "source_nodes.h"
#include "tesk/Exception.h"
#include "tesk/NetCType.h"
#include "tesk/NodeFactory.h"
#include "tesk/String.h"
#include "tesk/Vector.h"

namespace tesk_pipeline {

using TESK::NetCType;
using TESK::ObjectRef;
using TESK::RCPtr;

struct BeatNetwork::Nodes {
  // Declared upstream first: destroyed downstream first.
  RCPtr<AudioSourceNode> source;
  RCPtr<StftNode> stft;
  RCPtr<TESK::Node> tracker;
  int beat_id = -1, tempo_id = -1, confidence_id = -1;
  int onset_id = -1, stpm_id = -1, chroma_id = -1;
  int beat_ahead_id = -1, beat_in_bar_id = -1;  // bar-pointer only
};

namespace {

std::vector<float> vectorOf(const ObjectRef& ref) {
  RCPtr<TESK::Vector<float>> v = ref;
  if (v.get() == nullptr) return {};
  return std::vector<float>(v->begin(), v->end());
}

}  // namespace

BeatNetwork::BeatNetwork(const TrackerSettings& s, Framer& framer, Framer* reference,
                         int64_t first_frame)
    : nodes_(std::make_unique<Nodes>()),
      framer_(framer),
      reference_(reference),
      first_frame_(first_frame),
      vectors_(s.vectors) {
  try {
    const bool bar_pointer = s.tracker == TrackerKind::kBarPointer;
    const std::string type = bar_pointer ? "BarPointerTracker" : "BeatTracker";
    TESK::NodeFactoryBase* factory = TESK::Node::getFactoryNamed(type);
    if (!factory) throw NodeError("the node type " + type + " is not registered");
    TESK::ParameterSet params;
    params.add("RELIABILITY-THRESHOLD", ObjectRef(NetCType<float>::alloc(s.threshold)));
    params.add("ADVANCE", ObjectRef(NetCType<int>::alloc(s.advance)));
    params.add("SAMPLING_RATE", ObjectRef(NetCType<int>::alloc(s.sample_rate)));
    params.add("MAX_BPM", ObjectRef(NetCType<int>::alloc(s.max_bpm)));
    params.add("MIN_BPM", ObjectRef(NetCType<int>::alloc(s.min_bpm)));
    params.add("VECTOR_FLAG", ObjectRef(NetCType<bool>::alloc(s.vectors)));
    params.add("LOG_FLAG", ObjectRef(NetCType<bool>::alloc(s.diagnostics)));
    if (bar_pointer) {
      params.add("ANNOUNCE_AHEAD", ObjectRef(NetCType<int>::alloc(s.announce_ahead)));
      params.add("COMPRESSION", ObjectRef(NetCType<float>::alloc(float(s.compress))));
      params.add("ACTIVATION", ObjectRef(TESK::String::alloc(activationName(s.activation))));
    }

    nodes_->source = new AudioSourceNode("source", framer, first_frame);
    // The bar-pointer node compresses its own filterbank bands.
    nodes_->stft = new StftNode("spectrum", s.window, bar_pointer ? 0.0 : s.compress, reference);
    nodes_->tracker = factory->Create("tracker", params);
    TESK::Node& t = *nodes_->tracker;
    nodes_->stft->connectToNode("AUDIO", nodes_->source.get(), "AUDIO");
    t.connectToNode("AUDIO", nodes_->source.get(), "AUDIO");
    t.connectToNode("FFTAUDIO", nodes_->stft.get(), "FFTAUDIO");
    nodes_->beat_id = t.getOutputID("BEAT_DETECTED");
    nodes_->tempo_id = t.getOutputID("TEMPO");
    nodes_->confidence_id = t.getOutputID("CONFIDENCE");
    nodes_->onset_id = t.getOutputID("ONSET_VECTOR");
    nodes_->stpm_id = t.getOutputID("STPM_VECTOR");
    nodes_->chroma_id = t.getOutputID("CHROMA_VECTOR");
    if (bar_pointer) {
      nodes_->beat_ahead_id = t.getOutputID("BEAT_AHEAD");
      nodes_->beat_in_bar_id = t.getOutputID("BEAT_IN_BAR");
    }
    t.initialize();
  } catch (TESK::BaseException* e) {
    throw NodeError(takeHostMessage(e));
  }
}

BeatNetwork::~BeatNetwork() = default;

bool BeatNetwork::step(FrameResult& r) {
  if (!framer_.next()) return false;
  // The runner keeps at least as much reference queued as input.
  if (reference_ && !reference_->next())
    throw NodeError("the reference ended before frame " + std::to_string(framer_.frameIndex()));
  const int k = int(framer_.frameIndex() - first_frame_);
  try {
    TESK::Node& t = *nodes_->tracker;
    r.beat = TESK::dereference_cast<bool>(t.getOutput(nodes_->beat_id, k));
    r.tempo = TESK::dereference_cast<float>(t.getOutput(nodes_->tempo_id, k));
    r.confidence = TESK::dereference_cast<float>(t.getOutput(nodes_->confidence_id, k));
    r.beat_ahead = nodes_->beat_ahead_id < 0
                       ? 0
                       : TESK::dereference_cast<int>(t.getOutput(nodes_->beat_ahead_id, k));
    r.beat_in_bar = nodes_->beat_in_bar_id < 0
                        ? 0
                        : TESK::dereference_cast<int>(t.getOutput(nodes_->beat_in_bar_id, k));
    if (vectors_) {
      r.onset = vectorOf(t.getOutput(nodes_->onset_id, k));
      r.stpm = vectorOf(t.getOutput(nodes_->stpm_id, k));
      r.chroma = vectorOf(t.getOutput(nodes_->chroma_id, k));
    }
  } catch (TESK::BaseException* e) {
    throw NodeError(takeHostMessage(e));
  }
  return true;
}

}  // namespace tesk_pipeline
