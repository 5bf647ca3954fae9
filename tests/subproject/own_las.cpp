// The parent's own library named las, beside morrowtide's morrowtide::las.
int parentLas() { return 1; }
