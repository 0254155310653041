#include "merge_recordings.h"

#include <map>
#include <memory>
#include <set>

#include "vyxrec/mcap_reader.h"
#include "vyxrec/mcap_writer.h"
#include "vyxrec/recording_error.h"

namespace vyxgrab {

namespace {

constexpr char kRoot[] = "/lvt/";

// The camera name of a /lvt/<name>/<kind> topic; "" for other topics.
std::string cameraOf(const std::string& topic) {
  const size_t root = sizeof kRoot - 1;
  if (topic.compare(0, root, kRoot) != 0) return "";
  const size_t slash = topic.find('/', root);
  return slash == std::string::npos ? "" : topic.substr(root, slash - root);
}

struct Input {
  std::unique_ptr<vyxrec::McapReader> reader;
  vyxrec::McapMessage head;
  bool hasHead = false;
  std::map<uint16_t, uint16_t> channels;       // input channel id -> output
  std::map<std::string, std::string> renamed;  // camera name -> name in the output
};

}  // namespace

MergeResult mergeRecordings(const std::vector<std::string>& inputs, const std::string& output) {
  MergeResult result;
  std::vector<Input> in(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    in[i].reader = std::make_unique<vyxrec::McapReader>(inputs[i]);
  }
  vyxrec::McapWriter writer(output);
  std::set<std::string> cameras;  // names taken by earlier files
  std::map<std::pair<size_t, uint16_t>, uint16_t> schemas;

  // A channel is added to the output when its input first reaches it: in streaming mode the
  // channels of a cut file are only known as they come.
  auto outputChannel = [&](size_t i, uint16_t id) -> uint16_t {
    Input& input = in[i];
    const auto known = input.channels.find(id);
    if (known != input.channels.end()) return known->second;
    const vyxrec::McapChannel& channel = input.reader->channels().at(id);
    uint16_t schema = 0;
    if (channel.schemaId != 0) {
      auto& out = schemas[{i, channel.schemaId}];
      if (out == 0) {
        const vyxrec::McapSchema& s = input.reader->schemas().at(channel.schemaId);
        out = writer.addSchema(s.name, s.encoding, s.data);
      }
      schema = out;
    }
    std::string topic = channel.topic;
    const std::string camera = cameraOf(topic);
    if (!camera.empty()) {
      auto name = input.renamed.find(camera);
      if (name == input.renamed.end()) {
        std::string chosen = camera;
        if (cameras.count(chosen) != 0) {
          chosen = camera + "_" + std::to_string(i + 1);
          result.notes.push_back("camera " + camera + " of " + inputs[i] + " is " + chosen +
                                 " in " + output);
        }
        cameras.insert(chosen);
        name = input.renamed.emplace(camera, chosen).first;
      }
      topic = kRoot + name->second + topic.substr(sizeof kRoot - 1 + camera.size());
    }
    auto metadata = channel.metadata;
    metadata["source"] = inputs[i];
    const uint16_t out = writer.addChannel(schema, topic, channel.messageEncoding, metadata);
    input.channels[id] = out;
    return out;
  };

  // Each input's run description first, with the file it came from.
  auto copyMetadata = [&](size_t i, size_t& copied) {
    const std::vector<vyxrec::McapMetadata>& all = in[i].reader->metadata();
    for (; copied < all.size(); ++copied) {
      auto entries = all[copied].entries;
      entries["source"] = inputs[i];
      writer.addMetadata(all[copied].name, entries);
      ++result.metadata;
    }
  };
  std::vector<size_t> metadataCopied(in.size(), 0);
  auto advance = [&](size_t i) {
    in[i].hasHead = in[i].reader->next(in[i].head);
    copyMetadata(i, metadataCopied[i]);
  };
  for (size_t i = 0; i < in.size(); ++i) advance(i);

  for (;;) {
    size_t next = in.size();
    for (size_t i = 0; i < in.size(); ++i) {
      if (in[i].hasHead && (next == in.size() || in[i].head.logTime < in[next].head.logTime))
        next = i;
    }
    if (next == in.size()) break;
    const vyxrec::McapMessage& m = in[next].head;
    writer.write(outputChannel(next, m.channelId), m.sequence, m.logTime, m.publishTime, m.data,
                 m.size);
    ++result.messages;
    advance(next);
  }
  for (size_t i = 0; i < in.size(); ++i) {
    if (!in[i].reader->complete())
      result.notes.push_back(inputs[i] + " ends early: " + in[i].reader->stopReason());
  }
  writer.close();
  return result;
}

}  // namespace vyxgrab
