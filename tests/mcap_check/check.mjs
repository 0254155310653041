// Reads a recording of ours with the MCAP format's own TypeScript readers and
// ROS 2 message decoder, and compares every float with the truth the writer
// was given; then cuts the file at a random byte and reads it in streaming
// mode, expecting the same frames our playback reads. With VYXGRAB, also a
// recording vyxgrab makes of its simulated camera: decoded here and compared
// with the NPY files of the same frames, made by --convert from the recording
// and by a replay of it through the plug-in.
//   node check.mjs MCAP_CHECK_TOOL WORK_DIR [VYXGRAB]
// Exits 77 (skipped) when the npm packages are not installed (npm ci here).
import { execFileSync } from "node:child_process";
import { existsSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
if (!existsSync(join(here, "node_modules", "@mcap", "core"))) {
  console.log("skipped: no node_modules in tests/mcap_check (run npm ci there)");
  process.exit(77);
}
const { McapIndexedReader, McapStreamReader } = await import("@mcap/core");
const { parse } = await import("@foxglove/rosmsg");
const { MessageReader } = await import("@foxglove/rosmsg2-serialization");
const { decompress } = await import("fzstd");

const [tool, work, vyxgrab] = process.argv.slice(2);
const frames = 60;  // the lens model changes at frame 50
const cameras = 2;
const pixels = 64 * 50;
const file = join(work, "check.mcap");
const truthFile = join(work, "check.truth");
execFileSync(tool, ["write", file, truthFile, String(frames)]);
const bytes = new Uint8Array(readFileSync(file));
const truth = readFileSync(truthFile);

let failures = 0;
function expect(ok, what) {
  if (!ok) {
    failures++;
    if (failures < 20) console.error("FAILED: " + what);
  }
}
const decompressHandlers = {
  zstd: (data, size) => {
    const out = decompress(data);
    expect(BigInt(out.length) === size, `chunk decompresses to ${out.length}, declared ${size}`);
    return out;
  },
};

// The truth of a frame: stamp, then the two images.
const record = 8 + 2 * pixels * 4;
function truthOf(frame, camera) {
  const at = (frame * cameras + camera) * record;
  return {
    stamp: truth.readBigUInt64LE(at),
    distance: truth.subarray(at + 8, at + 8 + pixels * 4),
    amplitude: truth.subarray(at + 8 + pixels * 4, at + record),
  };
}

const readers = new Map();
function decoderFor(schema) {
  if (!readers.has(schema.id)) {
    expect(schema.encoding === "ros2msg", `schema ${schema.name} encoded ${schema.encoding}`);
    const text = new TextDecoder().decode(schema.data);
    readers.set(schema.id, new MessageReader(parse(text, { ros2: true })));
  }
  return readers.get(schema.id);
}

// Checks one decoded message; returns the topic's kind.
function checkMessage(channel, schema, message, counts) {
  expect(channel.messageEncoding === "cdr", `${channel.topic} encoded ${channel.messageEncoding}`);
  const decoded = decoderFor(schema).readMessage(message.data);
  const [, root, camName, kind] = channel.topic.split("/");
  expect(root === "lvt", `topic ${channel.topic}`);
  const camera = Number(camName.slice(3));
  const key = channel.topic;
  const n = counts.get(key) ?? 0;
  counts.set(key, n + 1);
  const stamp = BigInt(decoded.header.stamp.sec) * 1000000000n + BigInt(decoded.header.stamp.nanosec);
  expect(stamp === message.logTime, `${key} #${n}: header stamp ${stamp} != log time ${message.logTime}`);
  expect(decoded.header.frame_id === camName, `${key}: frame_id ${decoded.header.frame_id}`);
  if (kind === "distance" || kind === "amplitude") {
    expect(schema.name === "sensor_msgs/msg/Image", `${key}: schema ${schema.name}`);
    expect(message.sequence === n, `${key}: sequence ${message.sequence}, expected ${n}`);
    const t = truthOf(n, camera);
    expect(stamp === t.stamp, `${key} #${n}: stamp ${stamp}, truth ${t.stamp}`);
    expect(decoded.encoding === "32FC1" && decoded.width === 64 && decoded.height === 50 &&
           decoded.is_bigendian === 0 && decoded.step === 256,
           `${key}: ${decoded.encoding} ${decoded.width}x${decoded.height} step ${decoded.step}`);
    const got = new Float32Array(decoded.data.buffer.slice(decoded.data.byteOffset,
                                                            decoded.data.byteOffset + decoded.data.byteLength));
    const want = t[kind];
    const wantFloats = new Float32Array(want.buffer.slice(want.byteOffset, want.byteOffset + want.length));
    let same = got.length === pixels;
    for (let i = 0; same && i < pixels; i++) same = Object.is(got[i], wantFloats[i]);
    expect(same, `${key} #${n}: floats differ from the truth`);
  } else if (kind === "camera_info") {
    expect(decoded.distortion_model === "plumb_bob" && decoded.d.length === 5 &&
           decoded.k.length === 9 && decoded.r.length === 9 && decoded.p.length === 12 &&
           decoded.width === 64 && decoded.height === 50 && decoded.k[8] === 1,
           `${key}: camera info ${JSON.stringify(decoded)}`);
  } else if (kind === "raw") {
    expect(schema.name === "lvt_msgs/msg/RawFrame", `${key}: schema ${schema.name}`);
    expect(decoded.description.length === 128 && decoded.data.length === 2 * (68 + pixels * 4),
           `${key}: raw of ${decoded.data.length} bytes`);
    const raw = Buffer.from(decoded.data);
    const first = new DataView(raw.buffer, raw.byteOffset).getFloat32(68, false);
    expect(Object.is(first, truthOf(n, camera).distance.readFloatLE(0)), `${key} #${n}: raw pixel 0`);
  } else {
    expect(false, `unexpected topic ${key}`);
  }
  return kind;
}

// 1. The whole file, through its index.
const readable = {
  size: async () => BigInt(bytes.length),
  read: async (offset, size) => bytes.subarray(Number(offset), Number(offset + size)),
};
const indexed = await McapIndexedReader.Initialize({ readable, decompressHandlers });
expect(indexed.header.profile === "ros2", `profile ${indexed.header.profile}`);
const counts = new Map();
for await (const message of indexed.readMessages({ validateCrcs: true })) {
  const channel = indexed.channelsById.get(message.channelId);
  checkMessage(channel, indexed.schemasById.get(channel.schemaId), message, counts);
}
for (let c = 0; c < cameras; c++) {
  for (const kind of ["raw", "distance", "amplitude"]) {
    const topic = `/lvt/cam${c}/${kind}`;
    expect(counts.get(topic) === frames, `${topic}: ${counts.get(topic)} messages, expected ${frames}`);
  }
  expect(counts.get(`/lvt/cam${c}/camera_info`) === 2, `camera_info of cam${c}: ${counts.get(`/lvt/cam${c}/camera_info`)}`);
}
const metadata = [];
for await (const m of indexed.readMetadata()) metadata.push(m.name);
expect(metadata.join(",") === "run,counters", `metadata records ${metadata}`);
expect(indexed.statistics.messageCount === BigInt(cameras * (3 * frames + 2)),
       `statistics count ${indexed.statistics.messageCount}`);
console.log(`indexed: ${[...counts.values()].reduce((a, b) => a + b)} messages decoded`);

// 2. The file cut at a random byte, in streaming mode.
const cut = 9 + Math.floor(Math.random() * (bytes.length - 10));
const cutFile = join(work, "check-cut.mcap");
writeFileSync(cutFile, bytes.subarray(0, cut));
const stream = new McapStreamReader({ decompressHandlers, validateCrcs: true });
stream.append(bytes.subarray(0, cut));
const schemas = new Map();
const channels = new Map();
const cutCounts = new Map();
let streamedFrames = 0;
for (let r; (r = stream.nextRecord()) !== undefined;) {
  if (r.type === "Schema") schemas.set(r.id, r);
  if (r.type === "Channel") channels.set(r.id, r);
  if (r.type === "Message") {
    const channel = channels.get(r.channelId);
    if (checkMessage(channel, schemas.get(channel.schemaId), r, cutCounts) === "distance") streamedFrames++;
  }
}
const ours = Number(execFileSync(tool, ["count", cutFile]).toString().trim());
expect(ours === streamedFrames, `cut at ${cut} of ${bytes.length}: our playback reads ${ours} frames, the stream reader ${streamedFrames}`);
console.log(`cut at byte ${cut} of ${bytes.length}: ${streamedFrames} frames streamed, ${ours} by our playback`);

// 3. A recording made by vyxgrab: every message decoded by the format's readers,
// its floats equal to the NPY files of the same frames.
function npyFloats(path) {
  const b = readFileSync(path);
  const major = b[6];
  const headerLength = major === 1 ? b.readUInt16LE(8) : b.readUInt32LE(8);
  const start = (major === 1 ? 10 : 12) + headerLength;
  const header = b.subarray(0, start).toString("latin1");
  expect(header.includes("'<f4'") && header.includes("(50, 64)"), `${path}: header ${header}`);
  return new Float32Array(b.buffer.slice(b.byteOffset + start, b.byteOffset + b.length));
}
if (vyxgrab) {
  const grabbed = 20;
  const run = join(work, "vyxgrab-run.mcap");
  const converted = join(work, "vyxgrab-converted");
  const replayed = join(work, "vyxgrab-replayed");
  for (const path of [run, converted, replayed]) rmSync(path, { recursive: true, force: true });
  execFileSync(vyxgrab, ["--simulate", "--frames", String(grabbed), "--out", run]);
  execFileSync(vyxgrab, ["--convert", run, "--out", converted, "--write", "npy"]);
  execFileSync(vyxgrab, ["--simulate", "--replay", run, "--frames", String(grabbed), "--out",
                         replayed, "--write", "npy"]);
  const runBytes = new Uint8Array(readFileSync(run));
  const grabReader = await McapIndexedReader.Initialize({
    readable: {
      size: async () => BigInt(runBytes.length),
      read: async (offset, size) => runBytes.subarray(Number(offset), Number(offset + size)),
    },
    decompressHandlers,
  });
  const byTopic = new Map();
  for await (const message of grabReader.readMessages({ validateCrcs: true })) {
    const channel = grabReader.channelsById.get(message.channelId);
    const schema = grabReader.schemasById.get(channel.schemaId);
    expect(channel.messageEncoding === "cdr" && schema.encoding === "ros2msg",
           `${channel.topic}: ${channel.messageEncoding} / ${schema.encoding}`);
    const decoded = decoderFor(schema).readMessage(message.data);
    const list = byTopic.get(channel.topic) ?? [];
    list.push({ message, decoded, schema });
    byTopic.set(channel.topic, list);
  }
  let previous = -1n;
  for (const kind of ["distance", "amplitude"]) {
    const list = byTopic.get(`/lvt/cam0/${kind}`) ?? [];
    expect(list.length === grabbed, `vyxgrab's ${kind}: ${list.length} messages`);
    const code = kind === "distance" ? "10001_distance" : "10002_amplitude";
    list.forEach(({ message, decoded, schema }, n) => {
      expect(schema.name === "sensor_msgs/msg/Image" && decoded.encoding === "32FC1" &&
             decoded.width === 64 && decoded.height === 50 && message.sequence === n,
             `vyxgrab's ${kind} #${n}: ${schema.name} ${decoded.encoding} seq ${message.sequence}`);
      const stamp = BigInt(decoded.header.stamp.sec) * 1000000000n + BigInt(decoded.header.stamp.nanosec);
      expect(stamp === message.logTime && decoded.header.frame_id === "cam0",
             `vyxgrab's ${kind} #${n}: stamp ${stamp}, log time ${message.logTime}`);
      if (kind === "distance") {
        expect(stamp > previous, `vyxgrab's stamps go back at frame ${n}`);
        previous = stamp;
      }
      const got = new Float32Array(decoded.data.buffer.slice(decoded.data.byteOffset,
                                                              decoded.data.byteOffset + decoded.data.byteLength));
      const name = `frame_${String(n).padStart(5, "0")}_${code}.npy`;
      for (const dir of [converted, replayed]) {
        const want = npyFloats(join(dir, name));
        let same = got.length === want.length && got.length === pixels;
        for (let i = 0; same && i < want.length; i++) same = Object.is(got[i], want[i]);
        expect(same, `vyxgrab's ${kind} #${n} differs from ${join(dir, name)}`);
      }
    });
  }
  const info = byTopic.get("/lvt/cam0/camera_info") ?? [];
  expect(info.length >= 1 && info[0].decoded.distortion_model === "plumb_bob" &&
         info[0].decoded.k[0] > 0, `vyxgrab's camera_info: ${info.length} messages`);
  const names = [];
  for await (const m of grabReader.readMetadata()) names.push(m.name);
  expect(names.join(",") === "run,counters", `vyxgrab's metadata records ${names}`);
  console.log(`vyxgrab: ${grabbed} frames decoded, equal to the NPY files of --convert and --replay`);
}

if (failures) {
  console.error(`${failures} checks failed`);
  process.exit(1);
}
console.log("all checks passed");
