// The parent's own library named compressor, beside morrowtide's morrowtide::compressor.
int parentCompressor() { return 2; }
