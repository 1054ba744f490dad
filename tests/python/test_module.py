"""The Python module against the commands that compute the same things.

Every number is compared exactly (== on float64, i.e. the same bits up to
the sign of zero, and the CSV's shortest round-trip decimals read back): the
module calls the same core library as the commands, so any difference is a
fault. The data is made by generate_surfaces (three surfaces, 40 x 40).
"""
import csv
import os
import subprocess
import threading

import numpy as np
import pytest

import texture_illumination as ti

BIN = os.environ.get("TI_BIN_DIR") or os.path.join(os.path.dirname(__file__), "../../build/bin")
SPACE = "24,30,65,7,0.8,1.3,3"  # a small space: 504 vectors


def run(program, *args, cwd=None, check=True):
    result = subprocess.run([os.path.join(BIN, program), *args], cwd=cwd, capture_output=True,
                            text=True)
    if check and result.returncode != 0:
        raise AssertionError(f"{program} failed: {result.stderr}")
    return result


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def write_pgm(path, samples, maxval=255):
    samples = np.asarray(samples)
    kind = ">u2" if maxval > 255 else "u1"
    magic = b"P6" if samples.ndim == 3 else b"P5"
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n%d\n" % (magic, samples.shape[1], samples.shape[0], maxval))
        f.write(samples.astype(kind).tobytes())


@pytest.fixture(scope="module")
def data(tmp_path_factory):
    """Generated images, a manifest with a mask, a surface without a model
    and lights as x, y, z in the y-up frame, and the database of set 0."""
    root = tmp_path_factory.mktemp("data")
    run("generate_surfaces", "--root", str(root), "--names", "aaa,aab,aaj", "--sets", "2",
        "--size", "40")
    rows = read_csv(root / "data" / "manifest.csv")
    mask = np.ones((40, 40), np.uint8) * 255
    mask[:, :3] = 0
    write_pgm(root / "data" / "mask.pgm", mask)
    manifest = root / "data" / "m.csv"
    with open(manifest, "w", newline="") as f:
        out = csv.writer(f)
        out.writerow(["surface", "set", "image", "x", "y", "z", "mask"])
        for r in rows:
            L = ti.light(float(r["slant"]), float(r["tilt"]))
            # y up: the manifest's y is the image frame's -y.
            xyz = ["%.17g" % L[0], "%.17g" % (0.0 - L[1]), "%.17g" % L[2]]
            masked = "mask.pgm" if r["surface"] == "aab" else ""
            out.writerow([r["surface"], r["set"], r["image"], *xyz, masked])
            if r["surface"] == "aaj" and r["set"] == "1":
                out.writerow(["new, unmodelled", "1", r["image"], *xyz, ""])
    database = root / "db.dat"
    run("build_database", "--manifest", str(manifest), "--set", "0", "--y-up", "--bank",
        "default", "--output", str(database))
    return {"root": root, "plain": root / "data" / "manifest.csv", "manifest": manifest,
            "database": database, "mask": mask != 0}


def manifest_rows(path):
    """Each row of a manifest with its image path and image-frame light."""
    rows = read_csv(path)
    for r in rows:
        r["path"] = os.path.join(os.path.dirname(path), r["image"])
        if "slant" in r:
            r["light"] = ti.light(float(r["slant"]), float(r["tilt"]))
        else:
            r["light"] = np.array([float(r["x"]), 0.0 - float(r["y"]), float(r["z"])])
    return rows


def test_read_image_every_format_as_the_readers_scale_it(tmp_path):
    rng = np.random.default_rng(5)
    grey16 = rng.integers(0, 65536, size=(5, 7))
    write_pgm(tmp_path / "g.pgm", grey16, maxval=65535)
    assert np.array_equal(ti.read_image(str(tmp_path / "g.pgm")), grey16 / 65535 * 255)
    rgb = rng.integers(0, 256, size=(4, 3, 3))
    write_pgm(tmp_path / "c.ppm", rgb)
    s = rgb / 255 * 255
    expected = 0.2126 * s[..., 0] + 0.7152 * s[..., 1] + 0.0722 * s[..., 2]
    assert np.array_equal(ti.read_image(str(tmp_path / "c.ppm")), expected)
    # sRGB: below 0.04045 the curve is u / 12.92.
    dark = np.full((2, 2), 10)
    write_pgm(tmp_path / "d.pgm", dark)
    assert np.array_equal(ti.read_image(str(tmp_path / "d.pgm"), srgb=True),
                          dark / 255 / 12.92 * 255)


def test_banks_by_name_and_file_are_the_same_kernels(tmp_path):
    path = tmp_path / "f.dat"
    run("generate_filters", "--bank", "default", "--output", str(path))
    by_name, by_file = ti.bank("default"), ti.read_bank(str(path))
    assert len(by_name) == 16 and by_name.names == by_file.names
    for a, b in zip(by_name.kernels, by_file.kernels):
        assert a.shape == (15, 15) and a.dtype == np.float64 and np.array_equal(a, b)
        assert abs(np.sum(a * a) - 1) < 1e-12  # normalised
    assert set(ti.bank_names()) >= {"default"}


def test_light_space_counts_and_order():
    assert ti.light_space().shape == (21000, 3)
    space = ti.light_space(SPACE)
    assert space.shape == (504, 3)
    # Tilt outermost, then elevation, then magnitude, starting at each range's start.
    e, m = np.radians(30.0), 0.8
    assert np.allclose(space[0], m * np.array([np.cos(e), 0, np.sin(e)]), rtol=0, atol=1e-15)
    with pytest.raises(ValueError, match="space"):
        ti.light_space("1,2,3")
    with pytest.raises(ValueError, match="auto"):
        ti.light_space("auto")


def test_light_space_auto_is_the_commands(data):
    result = run("classify_images", "--manifest", str(data["plain"]), "--database",
                 str(data["database"]), "--sets", "1", "--bank", "default", "--space", "auto")
    count = int(result.stderr.split(" light vectors")[0].rsplit(" ", 1)[1])
    assert ti.light_space("auto", manifest=str(data["plain"])).shape == (count, 3)


def test_build_model_and_write_database_give_build_databases_bytes(data, tmp_path):
    bank = ti.bank("default")
    rows = [r for r in manifest_rows(data["manifest"]) if r["set"] == "0"]
    names = list(dict.fromkeys(r["surface"] for r in rows))
    models = []
    for name in names:
        own = [r for r in rows if r["surface"] == name]
        images = np.stack([ti.read_image(r["path"]) for r in own])
        lights = np.array([r["light"] for r in own])
        mask = data["mask"] if name == "aab" else None
        models.append(ti.build_model(images, lights, bank, mask=mask, name=name))
    out = tmp_path / "py.dat"
    ti.write_database(str(out), names, models)
    assert out.read_bytes() == data["database"].read_bytes()
    read = ti.read_database(str(out), bank)
    assert read.names == names
    for model, back in zip(models, read.models):
        assert model.P.shape == (16, 6) and model.C.shape == (16, 3, 3)
        assert np.array_equal(model.C[:, 0, 1], model.P[:, 1])
        assert np.array_equal(model.C[:, 2, 1], model.P[:, 4])
        assert np.allclose(back.P, model.P, rtol=0, atol=5e-7)  # six decimals


def column(rows, name, kind):
    return [kind(r[name]) if r[name] != "" else None for r in rows]


def test_classify_manifest_is_classify_images(data, tmp_path):
    out = tmp_path / "c.csv"
    run("classify_images", "--manifest", str(data["manifest"]), "--database",
        str(data["database"]), "--sets", "1,0", "--bank", "default", "--space", SPACE, "--y-up",
        "--output", str(out))
    expected = read_csv(out)
    got = ti.classify_manifest(str(data["manifest"]), str(data["database"]), [1, 0],
                               bank="default", space=SPACE, y_up=True, jobs=2)
    assert list(got) == ["surface", "set", "image", "predicted", "nearer", "ratio"]
    for name in ("surface", "image", "predicted"):
        assert list(got[name]) == [r[name] for r in expected]
    assert got["set"].dtype == np.int64 and list(got["set"]) == column(expected, "set", int)
    assert list(got["nearer"]) == [-1 if v is None else v for v in column(expected, "nearer", int)]
    ratio = column(expected, "ratio", float)
    assert "new, unmodelled" in list(got["surface"]) and None in ratio
    for a, b in zip(got["ratio"], ratio):
        assert (np.isnan(a) and (b is None or np.isnan(b))) or a == b


def test_estimate_light_manifest_is_estimate_light(data, tmp_path):
    out = tmp_path / "e.csv"
    run("estimate_light", "--manifest", str(data["manifest"]), "--model-set", "0", "--test-set",
        "1", "--bank", "default", "--space", "auto", "--y-up", "--output", str(out))
    expected = read_csv(out)
    got = ti.estimate_light_manifest(str(data["manifest"]), 0, 1, bank="default", space="auto",
                                     y_up=True, jobs=1)
    assert list(got) == list(expected[0])
    assert list(got["image"]) == [r["image"] for r in expected]
    for name in list(got)[3:]:
        assert got[name].dtype == np.float64
        assert [float(v).hex() for v in got[name]] == [float(r[name]).hex() for r in expected], name


def test_single_image_functions_agree_with_the_commands(data, tmp_path):
    """classify and estimate_light on one image give the manifest commands' answers."""
    bank = ti.bank("default")
    plain = data["plain"]
    rows = [r for r in manifest_rows(plain) if r["set"] == "1"]
    classes = ti.classify_manifest(str(plain), str(data["database"]), [1], bank="default",
                                   space=SPACE)
    lights = ti.estimate_light_manifest(str(plain), 0, 1, bank="default", space=SPACE)
    database = ti.read_database(str(data["database"]), bank)
    models = dict(zip(database.names, database.models))
    for k in range(0, len(rows), 5):
        image = ti.read_image(rows[k]["path"])
        name, distances = ti.classify(image, database, bank, space=SPACE)
        assert name == classes["predicted"][k] and distances.shape == (3,)
        assert name == database.names[int(np.argmin(distances))]
    # The models of set 0 from the plain manifest, built here (no mask).
    for k in range(0, len(rows), 7):
        r = rows[k]
        own = [m for m in manifest_rows(plain) if m["set"] == "0" and m["surface"] == r["surface"]]
        model = ti.build_model(np.stack([ti.read_image(m["path"]) for m in own]),
                               np.array([m["light"] for m in own]), bank)
        light, distance, every = ti.estimate_light(ti.read_image(r["path"]), model, bank,
                                                   space=SPACE, distances=True)
        assert list(light) == [lights["est_x"][k], lights["est_y"][k], lights["est_z"][k]]
        assert every.shape == (504,) and distance == every.min()
        assert np.array_equal(ti.light_space(SPACE)[int(np.argmin(every))], light)
    # A mask of all ones changes nothing.
    image = ti.read_image(rows[0]["path"])
    assert np.array_equal(ti.response_vector(image, bank),
                          ti.response_vector(image, bank, mask=np.ones((40, 40), bool)))


def test_photometric_normals_are_export_normals(data):
    """The unit normals and albedo export_normals draws its map and albedo image from."""
    work = data["root"] / "a" / "b" / "c"
    work.mkdir(parents=True)
    run("export_normals", "aaa", "--set", "1", cwd=work)
    rows = [r for r in manifest_rows(data["plain"]) if r["surface"] == "aaa" and r["set"] == "1"]
    normals, albedo = ti.photometric_normals([ti.read_image(r["path"]) for r in rows],
                                             np.array([r["light"] for r in rows]))
    assert normals.shape == (40, 40, 3) and albedo.shape == (40, 40)

    def to_byte(v):
        return np.clip(np.floor(v + 0.5), 0, 255).astype(np.uint8)

    colour = to_byte(255.0 * (normals + 1.0) / 2.0)
    assert (work / "aaa_normals.ppm").read_bytes()[-colour.size:] == colour.tobytes()
    grey = to_byte(255.0 * albedo / albedo.max())
    assert (work / "aaa_albedo.pgm").read_bytes()[-grey.size:] == grey.tobytes()


def test_normals_of_an_exact_lambertian_surface():
    rng = np.random.default_rng(1)
    n = rng.normal(size=(6, 5, 3))
    n[..., 2] = np.abs(n[..., 2]) + 1
    n /= np.linalg.norm(n, axis=2, keepdims=True)
    rho = rng.uniform(0.5, 2, size=(6, 5))
    lights = np.array([ti.light(40, t) for t in range(0, 360, 60)])
    images = np.einsum("kc,ijc->kij", lights, n * rho[..., None])
    normals, albedo = ti.photometric_normals(images, lights)
    assert np.allclose(normals, n, atol=1e-12) and np.allclose(albedo, rho, atol=1e-12)


def test_errors_are_the_commands_messages(data, tmp_path):
    missing = str(tmp_path / "missing.csv")
    result = run("classify_images", "--manifest", missing, "--database", str(data["database"]),
                 "--sets", "1", "--bank", "default", check=False)
    with pytest.raises(FileNotFoundError) as error:
        ti.classify_manifest(missing, str(data["database"]), [1], bank="default")
    assert str(error.value) == result.stderr.strip() and error.value.errno == 2
    result = run("estimate_light", "--manifest", str(data["manifest"]), "--model-set", "0",
                 "--test-set", "7", "--bank", "default", check=False)
    with pytest.raises(ValueError) as error:
        ti.estimate_light_manifest(str(data["manifest"]), 0, 7, bank="default")
    assert str(error.value) == result.stderr.strip().splitlines()[-1]
    with pytest.raises(IsADirectoryError):
        ti.read_database(str(tmp_path), ti.bank("default"))
    (tmp_path / "bad.pgm").write_bytes(b"P5\n3 2\n255\n\x01")
    with pytest.raises(ValueError, match="bad.pgm: the raster is too short"):
        ti.read_image(str(tmp_path / "bad.pgm"))
    with pytest.raises(ValueError, match="is not a bank"):
        ti.bank("no such bank")
    with pytest.raises(ValueError, match="finite"):
        ti.light(0, 1e308)
    with pytest.raises(OSError, match="cannot write the file"):
        ti.write_database(str(tmp_path / "no" / "db.dat"), ["a"],
                          ti.read_database(str(data["database"]), ti.bank("default")).models[:1])


@pytest.mark.parametrize("images, lights, message", [
    (np.zeros((4, 20, 20), complex), np.eye(4, 3), "dtype complex"),
    (np.zeros((4, 20), float), np.eye(4, 3), "shape"),
    (np.zeros((4, 20, 20)), np.eye(4, 2), "columns"),
    (np.zeros((4, 20, 20)), np.eye(3, 3), "3 lights for 4 images"),
    (np.full((4, 20, 20), np.nan), np.eye(4, 3), "not a finite number"),
    ([np.zeros((20, 20)), np.zeros((20, 21))], np.eye(2, 3), "image 1 is 21x20"),
    (np.zeros((3, 20, 20)), np.array([ti.light(45, t) for t in (0, 90, 180)]) * [1, 1, 0],
     "not coplanar"),
])
def test_bad_arrays_raise_value_error(images, lights, message):
    with pytest.raises(ValueError, match=message):
        ti.photometric_normals(images, lights)


def test_a_model_needs_four_lights_in_three_directions():
    bank = ti.bank("default")
    with pytest.raises(ValueError, match="at least 4"):
        ti.build_model(np.ones((3, 20, 20)), np.eye(3), bank)
    flat = np.array([ti.light(45, t) for t in (0, 90, 180, 270)]) * [1, 1, 0]
    with pytest.raises(ValueError, match="not coplanar"):
        ti.build_model(np.ones((4, 20, 20)), flat, bank)
    with pytest.raises(ValueError, match="larger"):
        ti.response_vector(np.ones((10, 10)), bank)


def test_the_interpreter_survives_a_matrix_library_error():
    for jobs in (1, 2):
        with pytest.raises(ti.MatrixLibraryError, match="matrix library: sizes of objects don't "
                                                        r"match in function m_mlt\(\)"):
            ti._matrix_library_error(jobs)
    assert issubclass(ti.MatrixLibraryError, RuntimeError)
    assert ti.light(0, 0)[2] == 1.0


def test_threads_classifying_at_once_give_the_same_answers(data):
    """The GIL is released: threads compute side by side with the same results."""
    bank = ti.bank("default")
    database = ti.read_database(str(data["database"]), bank)
    images = [ti.read_image(r["path"]) for r in manifest_rows(data["plain"])[::6]]
    alone = [ti.classify(image, database, bank, space=SPACE) for image in images]
    results = {}

    def work(k):
        results[k] = [ti.classify(image, database, bank, space=SPACE) for image in images]

    threads = [threading.Thread(target=work, args=(k,)) for k in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k in range(3):
        for (a, da), (b, db) in zip(alone, results[k]):
            assert a == b and np.array_equal(da, db)
