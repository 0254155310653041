#include "merge_recordings.h"

#include <cctype>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

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

// The recording host a file's "run" record names, as a topic part ("cell-3.local" ->
// "cell_3_local"); "" when it names none.
std::string hostOf(const vyxrec::McapReader& reader) {
  for (const vyxrec::McapMetadata& m : reader.metadata()) {
    if (m.name != "run") continue;
    const auto text = m.entries.find("json");
    if (text == m.entries.end()) continue;
    const nlohmann::json run = nlohmann::json::parse(text->second, nullptr, false);
    if (!run.is_object() || !run.contains("host") || !run.at("host").is_string()) continue;
    std::string host = run.at("host").get<std::string>();
    for (char& c : host) {
      if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
    }
    return host;
  }
  return "";
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
  std::map<std::string, std::string> cameras;  // names taken by earlier files -> their host
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
        // A name taken by an earlier file: the camera of another host takes that host's name,
        // else (same host, or none named) the file's place on the command line.
        const std::string host = hostOf(*input.reader);
        std::string chosen = camera;
        const auto taken = cameras.find(camera);
        if (taken != cameras.end()) {
          const bool otherHost = !host.empty() && host != taken->second;
          chosen = camera + "_" + (otherHost ? host : std::to_string(i + 1));
          if (cameras.count(chosen) != 0) chosen = camera + "_" + std::to_string(i + 1);
          result.notes.push_back("camera " + camera + " of " + inputs[i] + " is " + chosen +
                                 " in " + output);
        }
        cameras.emplace(chosen, host);
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
