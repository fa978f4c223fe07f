       COPY TW.
       COPY OTHER.
       COPY TW.
