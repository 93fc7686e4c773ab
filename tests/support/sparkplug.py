#!/usr/bin/env python3
"""Sparkplug B payloads through python3-protobuf, for the end-to-end tests.

  sparkplug.py MODULE_DIR decode            lines "<topic> <payload in hex>" on stdin,
                                            one JSON object a line on stdout
  sparkplug.py MODULE_DIR command NAME FILE an NCMD payload setting the Boolean
                                            metric NAME to true, written to FILE

MODULE_DIR holds sparkplug_b_pb2.py, made by protoc --python_out.
"""
import json
import sys
import time

sys.path.insert(0, sys.argv[1])
import sparkplug_b_pb2 as sp  # noqa: E402


def value(holder):
    field = holder.WhichOneof("value")
    if field is None:
        return None
    if field == "dataset_value":
        ds = holder.dataset_value
        return {"num_of_columns": ds.num_of_columns, "columns": list(ds.columns), "types": list(ds.types),
                "rows": [[value(e) for e in row.elements] for row in ds.rows]}
    return getattr(holder, field)


ALIASES = {}  # alias -> name, as the node's births told them


def decode(line):
    topic, hexed = line.split(" ", 1)
    payload = sp.Payload()
    payload.ParseFromString(bytes.fromhex(hexed.strip()))
    birth = "BIRTH/" in topic
    metrics = {}
    for m in payload.metrics:
        if birth and m.HasField("alias"):
            ALIASES[m.alias] = m.name
        name = m.name if m.HasField("name") else ALIASES.get(m.alias, "alias %d" % m.alias)
        metrics[name] = {"datatype": m.datatype, "timestamp": m.timestamp if m.HasField("timestamp") else None,
                         "is_null": m.is_null, "is_historical": m.is_historical, "value": value(m),
                         "alias": m.alias if m.HasField("alias") else None, "named": m.HasField("name")}
    return {"topic": topic, "timestamp": payload.timestamp if payload.HasField("timestamp") else None,
            "seq": payload.seq if payload.HasField("seq") else None, "metrics": metrics}


if sys.argv[2] == "decode":
    for line in sys.stdin:
        # A host's STATE is JSON (or plain text), not a Sparkplug payload.
        if line.strip() and not line.startswith("spBv1.0/STATE/"):
            print(json.dumps(decode(line)))
elif sys.argv[2] == "command":
    payload = sp.Payload()
    payload.timestamp = int(time.time() * 1000)
    metric = payload.metrics.add()
    metric.name = sys.argv[3]
    metric.datatype = sp.Boolean
    metric.boolean_value = True
    with open(sys.argv[4], "wb") as out:
        out.write(payload.SerializeToString())
