"""The README's Dask recipes on a LocalCluster of two worker processes.

The workers are new interpreters that find the package through the
environment they inherit (PYTHONPATH at the build tree under CTest, an
installed package elsewhere), not through sys.path edits.
"""

import logging
import pathlib
import shutil
import subprocess
import sys

import dask.dataframe
import distributed
import pandas
import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=logging.ERROR) as cluster, distributed.Client(cluster) as client:
        yield client


def test_workers_import_the_module_the_client_does(client, iso):
    files = client.run(lambda: __import__("morvandel.plugins.isotope", fromlist=["_"]).__file__)
    assert len(files) == 2 and set(files.values()) == {iso.__file__}


def test_a_folder_on_the_workers_as_run_multiple_files(client, iso, examples, tmp_path):
    tables = tmp_path / "tables"
    shutil.copytree(examples / "batch", tables)
    shutil.copy(examples / "glycopeptides.txt", tables)
    params = str(examples / "params.txt")
    (tmp_path / "dask").mkdir()
    (tmp_path / "serial").mkdir()
    iso.run_multiple_files(str(tables), str(tmp_path / "serial"), params)

    files = sorted(str(p) for p in tables.glob("*.txt"))
    futures = client.map(iso.run_single_file, files, output_dir=str(tmp_path / "dask"), param_file=params)
    client.gather(futures)

    def outputs(side):
        return {p.name: p.read_bytes() for p in (tmp_path / side).iterdir()}
    assert len(outputs("serial")) == 3 and outputs("dask") == outputs("serial")

    # A failing table comes back as the exception the module raises, note included.
    bad = tmp_path / "bad.txt"
    bad.write_text("PepSeq N H F S G\nEEQYNSTYR 4 3 1 0 0\nGXG 1 0 0 0 0\n")
    with pytest.raises(KeyError) as info:
        client.submit(iso.run_single_file, str(bad), str(tmp_path / "dask"), params).result()
    assert info.value.args == ("X",) and info.value.__notes__ == ["unknown residue 'X' in PepSeq, line 3 of %s" % bad]


def test_annotate_partition_by_partition_as_on_the_whole_table(client, iso, tmp_path):
    # A realistic table whose columns type the same in every partition.
    table = tmp_path / "ids.txt"
    subprocess.run([sys.executable, str(REPO / "bench" / "make_table.py"), str(table), "--rows", "200000",
                    "--seed", "12"], check=True)
    whole = iso.annotate(pandas.read_csv(table, sep=r"\s+"))

    frame = dask.dataframe.read_csv(table, sep=r"\s+", blocksize="2MB")
    assert frame.npartitions > 4
    parts = frame.map_partitions(iso.annotate, meta=iso.annotate(frame.head(1))).compute()
    assert len(parts) == 200000
    pandas.testing.assert_frame_equal(parts.reset_index(drop=True), whole, check_exact=True)


@pytest.mark.skipif(not __import__("os").environ.get("ISOTOPE_WRITE_RUN"), reason="no test run writer")
def test_tables_with_their_runs_on_the_workers(client, iso, tmp_path):
    from test_spectra import scene, write_run
    spectra, *_, gp_mz = scene(iso)
    (tmp_path / "runs").mkdir()
    (tmp_path / "tables").mkdir()
    for name in ["sampleA", "sampleB"]:
        write_run(tmp_path / "runs" / f"{name}.mzML", spectra)
        (tmp_path / "tables" / f"{name}.txt").write_text(
            "RawName\tScan\tPrecursorMZ\tCharge\tPeptide\tMod\tGlycanComposition\tGlyDecoy\tPepDecoy\n"
            f"{name}\t102\t{gp_mz[0]!r}\t2\tEEQYNSTYR\t\tH(3)N(4)F(1)\t0\t0\n")
    params = tmp_path / "params.txt"
    params.write_text(f"isotope_peaks_num = 5\nisotope_input_format = pglyco3\nisotope_spectra = {tmp_path / 'runs'}\n")
    (tmp_path / "dask").mkdir()
    (tmp_path / "serial").mkdir()
    iso.run_multiple_files(str(tmp_path / "tables"), str(tmp_path / "serial"), str(params))
    tables = sorted(str(p) for p in (tmp_path / "tables").glob("*.txt"))
    client.gather(client.map(iso.run_single_file, tables, output_dir=str(tmp_path / "dask"), param_file=str(params)))
    outputs = {side: {p.name: p.read_bytes() for p in (tmp_path / side).iterdir()} for side in ["serial", "dask"]}
    assert len(outputs["dask"]) == 2 and outputs["dask"] == outputs["serial"]
    assert all(b"\tcontrollerType=0 controllerNumber=1 scan=101\t" in text for text in outputs["dask"].values())
