"""Builders for the Claim and RunLog records that the verify tests feed in."""


def event(tool="write_file", *, wrote=False, payload=None, command=None, output=None):
    return {"tool": tool, "wrote": wrote, "payload": payload, "command": command, "output": output}


def wrote(payload):
    return event(wrote=True, payload=payload, output="ok")


def read(output, tool="read_file"):
    return event(tool, output=output)


def ran(line, exit_code=0, output=""):
    return {"command": line, "exit_code": exit_code, "output": output}


def run_log(events=(), commands=(), written=(), external=()):
    return {
        "events": list(events),
        "commands": list(commands),
        "written": list(written),
        "external": [{"args": a} for a in external],
    }


def claim(kind, text, *targets):
    return {"kind": kind, "text": text, "targets": list(targets)}
