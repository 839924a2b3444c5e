# Installs the package with the setuptools Debian ships (no network): pip install ./python
from setuptools import setup

setup(
    name="ostrel",
    version="1.0.0",
    description="Ostrel compressed audio for numpy: read, write, streaming encoder and decoder (libostrel)",
    packages=["ostrel"],
    python_requires=">=3.7",
    install_requires=["numpy"],
)
