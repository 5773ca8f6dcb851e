#!/usr/bin/env python3
"""Builds the signed fixtures around the stand-in browser setup program.

  make_fixtures.py resources --pki DIR --out DIR
      Writes one resource script (<set>.rc) per resource set, with its SIGNATURE.DAT and
      TRUSTED.JSON payloads and a version resource, and ids.json (the certificate
      identifier of every signing certificate of the test PKI, Base64).
  make_fixtures.py big-resources --pki DIR --out DIR [--size BYTES]
      The same for the large set: the good resources plus a PAYLOAD resource of random bytes.
  make_fixtures.py sign --pki DIR --unsigned DIR --out DIR [--sets a,b,...]
      Signs the linked programs (<set>.exe in the unsigned folder) into the variants.

A certificate identifier is the issuer's serial number followed by the signer's, each most
significant byte first, as the DER INTEGER holds it.
"""
import argparse
import base64
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

KEY_INDEX = 4  # the good list is signed with keys/key4.pem
VERSION = (24, 7, 3, 1105)

# Resource sets: how SIGNATURE.DAT and TRUSTED.JSON of each linked program are made.
RESOURCE_SETS = [
    'good', 'no_signature_dat', 'no_trusted_json', 'short_signature_dat', 'bad_key_index',
    'wrong_key', 'json_changed', 'certificates_object',
]

# Variant -> (resource set, [(certificate, digest), ...nested signatures after the first]).
# None as the list: copied unsigned.
SIGNED_VARIANTS = {
    'good': ('good', [('sign_sha256', 'sha256')]),
    'good_dual': ('good', [('sign_sha256', 'sha256'), ('sign_sha1', 'sha1')]),
    'unlisted_dual': ('good', [('sign_unlisted', 'sha256'), ('sign_sha1', 'sha1')]),
    'sha1': ('good', [('sign_sha1', 'sha1')]),
    'unlisted': ('good', [('sign_unlisted', 'sha256')]),
    'self_signed': ('good', [('self_signed', 'sha256')]),
    'lookalike': ('good', [('lookalike', 'sha256')]),
    'forged': ('good', [('forged', 'sha256')]),
    'expired': ('good', [('sign_expired', 'sha256')]),
    'server_only': ('good', [('sign_server', 'sha256')]),
    'leaf_issuer': ('good', [('sign_under_leaf', 'sha256')]),
    'unsigned': ('good', None),
    'no_signature_dat': ('no_signature_dat', [('sign_sha256', 'sha256')]),
    'no_trusted_json': ('no_trusted_json', [('sign_sha256', 'sha256')]),
    'short_signature_dat': ('short_signature_dat', [('sign_sha256', 'sha256')]),
    'bad_key_index': ('bad_key_index', [('sign_sha256', 'sha256')]),
    'wrong_key': ('wrong_key', [('sign_sha256', 'sha256')]),
    'json_changed': ('json_changed', [('sign_sha256', 'sha256')]),
    'certificates_object': ('certificates_object', [('sign_sha256', 'sha256')]),
}
# Issuer of every signing certificate of the PKI, and the extra certificates a signature
# carries (the look-alike brings its own root, as a forger would).
ISSUERS = {
    'sign_sha256': 'root_ca', 'sign_sha1': 'root_ca', 'sign_unlisted': 'root_ca',
    'self_signed': 'self_signed', 'lookalike': 'lookalike_root', 'sign_expired': 'root_ca',
    'sign_server': 'root_ca', 'sign_under_leaf': 'leaf_issuer',
}
EXTRA_CERTS = {'lookalike': ['lookalike_root'], 'forged': ['forged_root'],
               'sign_under_leaf': ['leaf_issuer']}
# Listed in the fixtures' TRUSTED.JSON. The self-signed, look-alike, expired, server-only and
# leaf-issued certificates are listed on purpose: they must be refused by the chain checks,
# not by the list.
LISTED = ['sign_sha256', 'sign_sha1', 'self_signed', 'lookalike', 'sign_expired', 'sign_server',
          'sign_under_leaf']


def run(*args, **kwargs):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          **kwargs).stdout


def serial_bytes(pem):
    text = run('openssl', 'x509', '-in', pem, '-noout', '-serial').decode().strip()
    digits = text.split('=', 1)[1]
    if len(digits) % 2:
        digits = '0' + digits
    raw = bytes.fromhex(digits)
    if raw[0] & 0x80:  # DER keeps a sign byte in front of a set high bit
        raw = b'\0' + raw
    return raw


def identifier(pki, name):
    return serial_bytes(os.path.join(pki, ISSUERS[name] + '.pem')) + \
        serial_bytes(os.path.join(pki, name + '.pem'))


def trusted_json(pki, certificates_as_object=False):
    ids = [{'id': base64.b64encode(identifier(pki, n)).decode()} for n in LISTED]
    # Elements the parser must skip: not an object, no "id", an "id" that is not a string,
    # and one that is not Base64.
    ids += [42, {'name': 'no id'}, {'id': 7}, {'id': 'not Base64!'}]
    certificates = ids[0] if certificates_as_object else ids
    doc = {'trusted_info': {'certificates': certificates, 'comment': 'test fixtures'}}
    return json.dumps(doc, separators=(',', ':'), sort_keys=True).encode()


def rsa_sign(pki, key_index, data):
    with tempfile.NamedTemporaryFile(delete=False) as f:
        f.write(data)
        path = f.name
    try:
        return run('openssl', 'dgst', '-sha1', '-sign',
                   os.path.join(pki, 'keys', 'key%d.pem' % key_index), path)
    finally:
        os.unlink(path)


def resources_for(pki, name):
    """(SIGNATURE.DAT bytes or None, TRUSTED.JSON bytes or None) of one resource set."""
    text = trusted_json(pki, certificates_as_object=(name == 'certificates_object'))
    index = struct.pack('<H', KEY_INDEX)
    if name in ('good', 'certificates_object'):
        return index + rsa_sign(pki, KEY_INDEX, text), text
    if name == 'no_signature_dat':
        return None, text
    if name == 'no_trusted_json':
        return index + rsa_sign(pki, KEY_INDEX, text), None
    if name == 'short_signature_dat':
        return index, text
    if name == 'bad_key_index':  # 10: the first index past the table
        return struct.pack('<H', 10) + rsa_sign(pki, KEY_INDEX, text), text
    if name == 'wrong_key':  # names key 4, signed with key 7
        return index + rsa_sign(pki, 7, text), text
    if name == 'json_changed':  # one byte of the list changed after it was signed
        signature = rsa_sign(pki, KEY_INDEX, text)
        changed = text.replace(b'test fixtures', b'test fixturez')
        assert len(changed) == len(text) and changed != text
        return index + signature, changed
    raise ValueError(name)


def rc_path(path):
    return '"' + os.path.abspath(path).replace('\\', '/') + '"'


def version_block():
    dotted = '.'.join(str(v) for v in VERSION)
    commas = ','.join(str(v) for v in VERSION)
    return '''1 VERSIONINFO
FILEVERSION %(c)s
PRODUCTVERSION %(c)s
FILEFLAGSMASK 0x3F
FILEFLAGS 0
FILEOS 0x40004
FILETYPE 1
FILESUBTYPE 0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "Zorvin"
      VALUE "FileDescription", "Zorvin Browser setup (test stand-in)"
      VALUE "FileVersion", "%(d)s"
      VALUE "ProductName", "Zorvin Browser"
      VALUE "ProductVersion", "%(d)s"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
''' % {'c': commas, 'd': dotted}


def write_if_changed(path, data):
    if os.path.exists(path):
        with open(path, 'rb') as f:
            if f.read() == data:
                return
    with open(path, 'wb') as f:
        f.write(data)


def write_resource_set(out, name, signature, text, extra_lines=()):
    # Names stay unquoted: windres joins a quoted name to the file name of the line before.
    lines = ['// Generated by make_fixtures.py; resource set "%s".' % name]
    if signature is not None:
        sig_path = os.path.join(out, name + '.signature.dat')
        write_if_changed(sig_path, signature)
        lines.append('SIGNATURE.DAT SIGNATURE_DAT %s' % rc_path(sig_path))
    if text is not None:
        json_path = os.path.join(out, name + '.trusted.json')
        write_if_changed(json_path, text)
        lines.append('TRUSTED.JSON TRUSTED_JSON %s' % rc_path(json_path))
    lines.extend(extra_lines)
    lines.append(version_block())
    # Rewritten every time, so that the build sees the set as new after a PKI change.
    with open(os.path.join(out, name + '.rc'), 'w') as f:
        f.write('\n'.join(lines) + '\n')


def cmd_resources(args):
    os.makedirs(args.out, exist_ok=True)
    for name in RESOURCE_SETS:
        signature, text = resources_for(args.pki, name)
        write_resource_set(args.out, name, signature, text)
    ids = {n: base64.b64encode(identifier(args.pki, n)).decode() for n in ISSUERS}
    ids['key_index'] = KEY_INDEX
    ids['file_version'] = '.'.join(str(v) for v in VERSION)
    with open(os.path.join(args.out, 'ids.json'), 'w') as f:
        json.dump(ids, f, indent=2, sort_keys=True)


def cmd_big_resources(args):
    os.makedirs(args.out, exist_ok=True)
    signature, text = resources_for(args.pki, 'good')
    payload = os.path.join(args.out, 'big.payload')
    if not os.path.exists(payload) or os.path.getsize(payload) != args.size:
        with open(payload, 'wb') as f:
            left = args.size
            while left:
                chunk = min(left, 1 << 20)
                f.write(os.urandom(chunk))
                left -= chunk
    write_resource_set(args.out, 'big', signature, text,
                       ['PAYLOAD RCDATA %s' % rc_path(payload)])


def sign(pki, source, target, signatures, forged_dir=None):
    def find(name, suffix):
        if forged_dir and name.startswith('forged'):
            return os.path.join(forged_dir, name + suffix)
        return os.path.join(pki, name + suffix)

    current = source
    temporary = []
    try:
        for number, (cert, digest) in enumerate(signatures):
            certs = find(cert, '.pem')
            if cert in EXTRA_CERTS:
                chain = tempfile.NamedTemporaryFile(delete=False, suffix='.pem')
                for name in [cert] + EXTRA_CERTS[cert]:
                    with open(find(name, '.pem'), 'rb') as f:
                        chain.write(f.read())
                chain.close()
                temporary.append(chain.name)
                certs = chain.name
            out = target + '.part%d' % number
            temporary.append(out)
            if os.path.exists(out):
                os.unlink(out)
            args = ['osslsigncode', 'sign']
            if number > 0:
                args.append('-nest')
            args += ['-certs', certs, '-key', find(cert, '.key'), '-h', digest,
                     '-n', 'Zorvin Browser', '-in', current, '-out', out]
            run(*args)
            current = out
        shutil.copyfile(current, target + '.tmp')
        os.replace(target + '.tmp', target)
    finally:
        for path in temporary:
            if os.path.exists(path):
                os.unlink(path)


def text_section(data):
    """(file offset, size) of the .text section's raw data."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    sections = struct.unpack_from('<H', data, pe + 6)[0]
    optional_size = struct.unpack_from('<H', data, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(sections):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b'\0')
        raw_size, raw_offset = struct.unpack_from('<II', data, entry + 16)
        if name == b'.text':
            return raw_offset, raw_size
    raise ValueError('no .text section')


def subject(pem):
    text = run('openssl', 'x509', '-in', pem, '-noout', '-subject', '-nameopt', 'compat')
    return text.decode().strip().split('=', 1)[1]


def make_forged_certificates(pki, folder):
    """A forger's copy of the good signer: the subjects *and* serial numbers of sign_sha256 and
    root_ca (so its identifier is the listed one), under the look-alike root's keys.
    Returns a folder holding forged.{pem,key} and forged_root.pem."""
    os.makedirs(folder, exist_ok=True)
    root_key = os.path.join(pki, 'lookalike_root.key')
    leaf_key = os.path.join(pki, 'lookalike.key')
    root_pem = os.path.join(folder, 'forged_root.pem')
    leaf_pem = os.path.join(folder, 'forged.pem')
    ext = os.path.join(folder, 'forged_ext.cnf')
    with open(ext, 'w') as f:
        f.write('[root]\nbasicConstraints = critical, CA:TRUE\n'
                'keyUsage = critical, keyCertSign, cRLSign\nsubjectKeyIdentifier = hash\n'
                '[leaf]\nbasicConstraints = critical, CA:FALSE\n'
                'keyUsage = critical, digitalSignature\nextendedKeyUsage = codeSigning\n'
                'authorityKeyIdentifier = keyid\n')
    root_serial = '0x' + serial_bytes(os.path.join(pki, 'root_ca.pem')).hex()
    leaf_serial = '0x' + serial_bytes(os.path.join(pki, 'sign_sha256.pem')).hex()
    run('openssl', 'req', '-x509', '-new', '-key', root_key, '-out', root_pem, '-days', '3650',
        '-subj', subject(os.path.join(pki, 'root_ca.pem')), '-sha256', '-set_serial', root_serial,
        '-config', ext, '-extensions', 'root')
    csr = os.path.join(folder, 'forged.csr')
    run('openssl', 'req', '-new', '-key', leaf_key, '-out', csr,
        '-subj', subject(os.path.join(pki, 'sign_sha256.pem')), '-config', ext)
    run('openssl', 'x509', '-req', '-in', csr, '-CA', root_pem, '-CAkey', root_key,
        '-set_serial', leaf_serial, '-days', '3650', '-sha256', '-extfile', ext,
        '-extensions', 'leaf', '-out', leaf_pem)
    shutil.copyfile(leaf_key, os.path.join(folder, 'forged.key'))
    os.unlink(csr)
    return folder


def cmd_sign(args):
    os.makedirs(args.out, exist_ok=True)
    wanted = args.sets.split(',') if args.sets else list(SIGNED_VARIANTS) + ['tampered']
    for variant in wanted:
        if variant == 'tampered':
            continue
        resource_set, signatures = SIGNED_VARIANTS.get(variant, (variant, [('sign_sha256', 'sha256')]))
        source = os.path.join(args.unsigned, resource_set + '.exe')
        target = os.path.join(args.out, variant + '.exe')
        if signatures is None:
            shutil.copyfile(source, target)
        else:
            forged = None
            if any(cert == 'forged' for cert, _ in signatures):
                forged = make_forged_certificates(args.pki, os.path.join(args.unsigned, 'forged'))
            sign(args.pki, source, target, signatures, forged)
    if 'tampered' in wanted:
        # The good program with one byte of its code changed after signing.
        with open(os.path.join(args.out, 'good.exe'), 'rb') as f:
            data = bytearray(f.read())
        offset, size = text_section(data)
        data[offset + size // 2] ^= 0x01
        with open(os.path.join(args.out, 'tampered.exe'), 'wb') as f:
            f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    sub = parser.add_subparsers(dest='command', required=True)
    p = sub.add_parser('resources')
    p.add_argument('--pki', required=True)
    p.add_argument('--out', required=True)
    p.set_defaults(func=cmd_resources)
    p = sub.add_parser('big-resources')
    p.add_argument('--pki', required=True)
    p.add_argument('--out', required=True)
    p.add_argument('--size', type=int, default=100 * 1024 * 1024)
    p.set_defaults(func=cmd_big_resources)
    p = sub.add_parser('sign')
    p.add_argument('--pki', required=True)
    p.add_argument('--unsigned', required=True)
    p.add_argument('--out', required=True)
    p.add_argument('--sets', default='')
    p.set_defaults(func=cmd_sign)
    args = parser.parse_args()
    try:
        args.func(args)
    except subprocess.CalledProcessError as e:
        sys.stderr.write('%s failed: %s\n' % (' '.join(e.cmd), e.stderr.decode(errors='replace')))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
