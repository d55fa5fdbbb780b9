#!/usr/bin/perl
# Lists a Windows 9x registry file's keys and values as read by
# Parse::Win32Registry (Debian's libparse-win32registry-perl), in the form
# `uinq76-creg dump` writes.
use strict;
use warnings;
use Parse::Win32Registry;

sub escape {
    my ($raw) = @_;
    return join "", map {
        my $b = ord $_;
        ($b > 0x20 && $b < 0x7F && $b != 0x25 && $b != 0x5C) ? $_ : sprintf("%%%02X", $b)
    } split //, $raw;
}

sub dump_key {
    my ($key, $path) = @_;
    print "K $path\n";
    my @values = sort { $a->get_name cmp $b->get_name } $key->get_list_of_values;
    for my $value (@values) {
        printf "V %s %d %s\n", escape($value->get_name), $value->get_type,
            unpack("H*", $value->get_raw_data // "");
    }
    for my $child (sort { $a->get_name cmp $b->get_name } $key->get_list_of_subkeys) {
        dump_key($child, $path . "\\" . escape($child->get_name));
    }
}

my $registry = Parse::Win32Registry->new($ARGV[0])
    or die "$ARGV[0]: not read as a registry file\n";
dump_key($registry->get_root_key, "");
