// What the page takes from mediabunny: bundled into one classic script that sets the
// global PemloMediabunny (the page opens from disk, where module scripts are refused).
export {
  Output, Mp4OutputFormat, WebMOutputFormat, BufferTarget, StreamTarget,
  VideoSampleSource, AudioSampleSource, VideoSample, AudioSample, QUALITY_HIGH,
} from 'mediabunny';
