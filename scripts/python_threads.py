"""Two Python threads classifying at once against one after the other.

python_threads.py MANIFEST DATABASE FILTERS [RUNS]: classifies 8 images of
set 1 of the manifest against the database (texture_illumination.classify,
the default light space) twice, first one batch after the other in one
thread, then both batches in two threads at once; prints both times (best
of RUNS, default 3), their ratio and how many cores the two threads kept
busy (CPU time over wall time). The module releases the GIL while it
computes, so on two free cores the ratio is near 2. A helper of
scripts/benchmark; the module must be importable.
"""
import csv
import os
import sys
import threading
import time

import texture_illumination as ti


def main():
    manifest, database_file, filters = sys.argv[1:4]
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    with open(manifest, newline="") as f:
        rows = [r for r in csv.DictReader(f) if r["set"] == "1"]
    folder = os.path.dirname(manifest)
    step = max(1, len(rows) // 8)
    images = [ti.read_image(os.path.join(folder, r["image"])) for r in rows[::step][:8]]
    bank = ti.read_bank(filters)
    database = ti.read_database(database_file, bank)

    def batch():
        for image in images:
            ti.classify(image, database, bank)

    def timed(work):
        """The best wall time of the runs, and the process's CPU time over it."""
        best = None
        for _ in range(runs):
            start, cpu = time.perf_counter(), time.process_time()
            work()
            took, used = time.perf_counter() - start, time.process_time() - cpu
            if best is None or took < best[0]:
                best = (took, used)
        return best

    def one_after_the_other():
        batch()
        batch()

    def side_by_side():
        threads = [threading.Thread(target=batch) for _ in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    serial, _ = timed(one_after_the_other)
    parallel, cpu = timed(side_by_side)
    # CPU time over wall time of the two threads: near 2 when both ran at
    # once; near 1 when the machine had one core free (the other busy
    # with other work), whatever the module does.
    print(f"  Python, 2 x {len(images)} images classified ({len(database)} models, 21000 lights): "
          f"one after the other {serial:.2f} s, two threads at once {parallel:.2f} s, "
          f"ratio {serial / parallel:.2f} (best of {runs}; the threads used "
          f"{cpu / parallel:.2f} cores)")


if __name__ == "__main__":
    main()
